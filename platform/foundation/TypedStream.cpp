#include "platform/foundation/TypedStream.h"

#include <limits>

namespace platform::typedstream {

bool isIntegerCode(char code)
{
    switch (code) {
    case 'c': case 'C': case 's': case 'S': case 'i': case 'I':
    case 'l': case 'L': case 'q': case 'Q': case 'B':
        return true;
    default:
        return false;
    }
}

bool isSignedIntegerCode(char code)
{
    return code == 'c' || code == 's' || code == 'i' || code == 'l' || code == 'q';
}

int integerWidth(char code)
{
    switch (code) {
    case 'c': case 'C': case 'B': return 1;
    case 's': case 'S': return 2;
    case 'i': case 'I': case 'l': case 'L': return 4;
    case 'q': case 'Q': return 8;
    default: return 0;
    }
}

bool isRealCode(char code)
{
    return code == 'f' || code == 'd';
}

namespace {

bool isValueCode(char code)
{
    // '+' is the unshared string of string objects, '%' an atom, ':' a selector, '#' a class.
    return isIntegerCode(code) || isRealCode(code) || code == '@' || code == '#' || code == '*' || code == '+'
           || code == ':' || code == '%';
}

class Parser {
public:
    Parser(QByteArrayView text, int maxDepth) : text_(text), maxDepth_(maxDepth) {}

    std::optional<TypeNode> node(int depth)
    {
        if (depth > maxDepth_ || pos_ >= text_.size())
            return std::nullopt;
        const char c = text_[pos_++];
        if (c == '[')
            return array(depth);
        if (c == '{')
            return structure(depth);
        if (!isValueCode(c))
            return std::nullopt;
        TypeNode n;
        n.code = c;
        return n;
    }

    bool atEnd() const { return pos_ >= text_.size(); }

private:
    std::optional<TypeNode> array(int depth)
    {
        quint64 count = 0;
        qsizetype digits = 0;
        while (pos_ < text_.size() && text_[pos_] >= '0' && text_[pos_] <= '9') {
            const quint64 digit = quint64(text_[pos_] - '0');
            if (count > (std::numeric_limits<quint64>::max() - digit) / 10)
                return std::nullopt;
            count = count * 10 + digit;
            ++pos_;
            ++digits;
        }
        if (digits == 0)
            return std::nullopt;
        auto element = node(depth + 1);
        if (!element || pos_ >= text_.size() || text_[pos_] != ']')
            return std::nullopt;
        ++pos_;
        TypeNode n;
        n.code = '[';
        n.count = count;
        n.children.push_back(std::move(*element));
        return n;
    }

    std::optional<TypeNode> structure(int depth)
    {
        // The name runs to '='; an anonymous struct may leave it empty.
        while (pos_ < text_.size() && text_[pos_] != '=' && text_[pos_] != '}')
            ++pos_;
        if (pos_ >= text_.size())
            return std::nullopt;
        TypeNode n;
        n.code = '{';
        if (text_[pos_] == '=') {
            ++pos_;
            while (pos_ < text_.size() && text_[pos_] != '}') {
                auto field = node(depth + 1);
                if (!field)
                    return std::nullopt;
                n.children.push_back(std::move(*field));
            }
            if (pos_ >= text_.size())
                return std::nullopt;
        }
        ++pos_; // '}'
        return n;
    }

    QByteArrayView text_;
    int maxDepth_;
    qsizetype pos_ = 0;
};

} // namespace

std::optional<std::vector<TypeNode>> parseTypes(QByteArrayView types, int maxDepth)
{
    if (types.isEmpty())
        return std::nullopt;
    Parser parser(types, maxDepth);
    std::vector<TypeNode> nodes;
    while (!parser.atEnd()) {
        auto n = parser.node(0);
        if (!n)
            return std::nullopt;
        nodes.push_back(std::move(*n));
    }
    return nodes;
}

} // namespace platform::typedstream
