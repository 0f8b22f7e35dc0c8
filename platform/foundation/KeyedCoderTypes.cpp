#include "platform/foundation/KeyedCoderTypes.h"

#include <limits>

namespace platform {

int KeyedCoderTypes::scalarSize(char code)
{
    switch (code) {
    case 'c':
    case 'C':
        return 1;
    case 's':
    case 'S':
        return 2;
    case 'i':
    case 'I':
    case 'l':
    case 'L':
    case 'f':
        return 4;
    case 'q':
    case 'Q':
    case 'd':
        return 8;
    default:
        return 0;
    }
}

bool KeyedCoderTypes::isInteger(char code)
{
    return code != 'f' && code != 'd' && scalarSize(code) > 0;
}

std::optional<QList<KeyedCoderTypes::Item>> KeyedCoderTypes::parse(const char* types)
{
    QList<Item> items;
    if (!types)
        return std::nullopt;
    for (const char* p = types; *p; ++p) {
        if (*p == '@' || *p == '*' || scalarSize(*p) > 0) {
            items.append(Item{*p, 0, false});
            continue;
        }
        if (*p != '[')
            return std::nullopt;
        quint64 count = 0;
        ++p;
        if (*p < '0' || *p > '9')
            return std::nullopt;
        for (; *p >= '0' && *p <= '9'; ++p) {
            const quint64 digit = quint64(*p - '0');
            if (count > (std::numeric_limits<quint64>::max() - digit) / 10)
                return std::nullopt;
            count = count * 10 + digit;
        }
        // Old-style arrays carry scalars only.
        if (scalarSize(*p) == 0 || p[1] != ']')
            return std::nullopt;
        items.append(Item{*p, count, true});
        ++p;
    }
    return items;
}

} // namespace platform
