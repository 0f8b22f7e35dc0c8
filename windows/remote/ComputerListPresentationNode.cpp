#include "windows/remote/ComputerListPresentationNode.h"

#include "acquisition/MonitorConnectionInfo.h"
#include "framework/NSProcessInfoTEVAdditions.h"
#include "framework/TEVStringFormat.h"
#include "platform/foundation/Bundle.h"
#include "platform/foundation/Log.h"
#include "platform/foundation/Values.h"

#include <QLocale>
#include <QSet>

#include <algorithm>
#include <cmath>
#include <limits>

namespace values = platform::values;

namespace {

const char kClassName[] = "ComputerListPresentationNode";

QString localized(const QString& key)
{
    const auto bundle = platform::Bundle::main();
    return bundle ? bundle->localizedString(key) : key;
}

// The application base's polite-aware lookup, with no table named.
QString politeLocalized(const QString& key)
{
    const auto bundle = platform::Bundle::main();
    if (!bundle)
        return key;
    return bundle->localizedString(key, {}, {},
                                   NSProcessInfoTEVAdditions::shouldUIUsePoliteForms() ? platform::Bundle::StringForms::Polite
                                                                                       : platform::Bundle::StringForms::Plain);
}

platform::Error validationError(qint64 code, const QString& description, const QString& suggestion)
{
    return {ComputerListPresentationNode::kErrorDomain, code,
            {{QStringLiteral("NSLocalizedDescription"), localized(description)},
             {QStringLiteral("NSLocalizedRecoverySuggestion"), politeLocalized(suggestion)}}};
}

// A stored port: a whole number of 0...65535. Cut to 16 bits, 70000 would reach another service.
std::optional<quint16> storedPortFrom(const QVariant& value)
{
    switch (values::kindOf(value)) {
    case values::Kind::Signed:
    case values::Kind::Unsigned:
        if (const auto n = values::toUnsigned(value); n && *n <= 65535)
            return quint16(*n);
        return std::nullopt;
    case values::Kind::Real: {
        const double d = value.toDouble();
        if (std::isfinite(d) && d >= 0 && d <= 65535 && std::floor(d) == d)
            return quint16(d);
        return std::nullopt;
    }
    default: // a boolean is no port number
        return std::nullopt;
    }
}

// An older-form member [host, number] whose number is no port: the host, else null.
QString hostWithPortOutOfRange(const QVariant& member)
{
    const auto pair = values::toArray(member);
    if (!pair || pair->size() != 2)
        return {};
    const auto host = values::toString(pair->at(0));
    if (!host || host->isEmpty() || !values::isNumber(pair->at(1)) || values::kindOf(pair->at(1)) == values::Kind::Bool
        || storedPortFrom(pair->at(1)))
        return {};
    return *host;
}

} // namespace

// --- The stored form ----------------------------------------------------------------------------------------

ComputerListPresentationNode::InfoPtr ComputerListPresentationNode::connectionInfoFromStoredMember(const QVariant& member)
{
    if (values::kindOf(member) == values::Kind::Dictionary)
        return MonitorConnectionInfo::connectionInfoFromPropertyList(member);
    // The older form: [host, port].
    const auto pair = values::toArray(member);
    if (!pair || pair->size() != 2)
        return nullptr;
    const auto host = values::toString(pair->at(0));
    const auto port = storedPortFrom(pair->at(1));
    if (!host || host->isEmpty() || !port)
        return nullptr;
    return MonitorConnectionInfo::createForRemoteConnection(*host, *port);
}

bool ComputerListPresentationNode::addComputerListPresentationNodesFromPropertyList(const std::optional<QVariantMap>& plist,
                                                                                   const std::shared_ptr<ComputerListRoot>& root,
                                                                                   QVariantMap* unreadable,
                                                                                   QList<platform::Error>* refusals)
{
    if (!plist || !root)
        return false;
    bool complete = true;
    for (auto it = plist->cbegin(); it != plist->cend(); ++it) {
        const auto stored = values::toArray(it.value());
        auto list = stored ? createAsEmptyListNamed(it.key(), root) : nullptr;
        if (!list) {
            // An empty name or no array: kept as stored, so that saving does not lose it.
            complete = false;
            if (unreadable)
                unreadable->insert(it.key(), it.value());
            continue;
        }
        for (qsizetype i = 0; i < stored->size(); ++i) {
            const QVariant& member = stored->at(i);
            if (const auto info = connectionInfoFromStoredMember(member)) {
                list->members()->append(createAsMemberWithConnectionInfo(info, list));
                continue;
            }
            complete = false;
            list->unreadableMembers_.append({i, member});
            const QString host = hostWithPortOutOfRange(member);
            platform::log(kClassName, QStringLiteral("member %1 of the list '%2' cannot be read%3; it is kept as stored")
                                          .arg(i + 1)
                                          .arg(it.key(), host.isEmpty() ? QString() : QStringLiteral(": its port is out of range")));
            if (!host.isEmpty() && refusals) {
                refusals->append({kErrorDomain, PortOutOfRangeError,
                                  {{QStringLiteral("NSLocalizedDescription"),
                                    TEVStringFormat::withObjects(localized(QStringLiteral("The port number of '%@' in the list '%@' is out of range.")),
                                                                 {host, it.key()})},
                                   {QStringLiteral("NSLocalizedRecoverySuggestion"),
                                    politeLocalized(QStringLiteral("The computer is not connected with this list. Please add it again "
                                                                   "with a port number from 1024 to 65535."))}}});
            }
        }
        root->nodes.append(list);
    }
    return complete;
}

std::optional<QVariantMap> ComputerListPresentationNode::propertyListForRootArray(const std::shared_ptr<ComputerListRoot>& root)
{
    if (!root)
        return std::nullopt;
    QVariantMap plist;
    for (const auto& list : root->nodes) {
        if (!list || list->isLeaf())
            continue;
        QVariantList members;
        for (const auto& member : *list->members())
            if (const auto info = member ? member->connectionInfo() : nullptr)
                members.append(values::fromDictionary(info->propertyListRepresentation()));
        // In rising positions: a list that has not changed is written as it was read.
        for (const UnreadableMember& unread : list->unreadableMembers())
            members.insert(std::min(unread.position, members.size()), unread.stored);
        plist.insert(list->presentedName(), values::fromArray(members));
    }
    return plist;
}

// --- Creation -----------------------------------------------------------------------------------------------

ComputerListNodePtr ComputerListPresentationNode::createAsEmptyListNamed(const QString& name,
                                                                         const std::shared_ptr<ComputerListRoot>& root)
{
    if (name.isEmpty() || !root)
        return nullptr;
    auto node = std::make_shared<ComputerListPresentationNode>();
    node->infoOrName_ = name;
    node->members_.emplace();
    node->members_->reserve(10);
    node->parent_ = std::weak_ptr<ComputerListRoot>(root);
    return node;
}

ComputerListNodePtr ComputerListPresentationNode::createAsMemberWithConnectionInfo(const InfoPtr& info,
                                                                                   const ComputerListNodePtr& parent)
{
    if (!info || !parent)
        return nullptr;
    auto node = std::make_shared<ComputerListPresentationNode>();
    node->infoOrName_ = info;
    node->parent_ = std::weak_ptr<ComputerListPresentationNode>(parent);
    return node;
}

// --- Properties ---------------------------------------------------------------------------------------------

ComputerListPresentationNode::InfoPtr ComputerListPresentationNode::connectionInfo() const
{
    const auto* info = std::get_if<InfoPtr>(&infoOrName_);
    return info ? *info : nullptr;
}

ComputerListNodePtr ComputerListPresentationNode::parentList() const
{
    const auto* list = std::get_if<std::weak_ptr<ComputerListPresentationNode>>(&parent_);
    return list ? list->lock() : nullptr;
}

bool ComputerListPresentationNode::canEditPortNumber() const
{
    const auto info = connectionInfo();
    return info && !info->netService() && !info->isLocal();
}

QString ComputerListPresentationNode::presentedName() const
{
    if (const auto* name = std::get_if<QString>(&infoOrName_))
        return *name;
    const auto info = connectionInfo();
    if (!info)
        return {};
    if (info->netService())
        return info->netService()->name();
    // A "Local" member, which only a stored list brings: its application.
    return info->isLocal() ? info->applicationName() : info->hostSpecifier();
}

void ComputerListPresentationNode::setPresentedName(const QString& name)
{
    if (name.isEmpty())
        return;
    if (std::holds_alternative<QString>(infoOrName_)) {
        infoOrName_ = name;
        return;
    }
    const auto info = connectionInfo();
    if (!info)
        return;
    InfoPtr renamed;
    if (const auto& service = info->netService())
        // Another service now: same domain and type, the new name.
        renamed = MonitorConnectionInfo::createForRemoteConnection(platform::NetService(service->domain(), service->type(), name));
    else if (info->isLocal())
        renamed = MonitorConnectionInfo::createForLocalMachine(name);
    else
        renamed = MonitorConnectionInfo::createForRemoteConnection(name, info->portNumber());
    if (renamed)
        infoOrName_ = renamed;
}

bool ComputerListPresentationNode::validatePresentedName(const QVariant& value, platform::Error* error) const
{
    if (!value.isValid())
        return true;
    const QString name = value.toString();
    if (name.isEmpty()) {
        if (error)
            *error = validationError(EmptyNameError, QStringLiteral("The name must not be empty."),
                                     QStringLiteral("Please specify a valid name."));
        return false;
    }

    const ComputerListNodeArray* siblings = nullptr;
    std::shared_ptr<ComputerListPresentationNode> parentNode;
    std::shared_ptr<ComputerListRoot> parentRoot;
    if (const auto* node = std::get_if<std::weak_ptr<ComputerListPresentationNode>>(&parent_); node && (parentNode = node->lock())) {
        siblings = parentNode->members(); // none when the parent is itself a member
    } else if (const auto* root = std::get_if<std::weak_ptr<ComputerListRoot>>(&parent_); root && (parentRoot = root->lock())) {
        siblings = &parentRoot->nodes;
    } else {
        platform::log(QStringLiteral("%1 <%2>: parent has unexpected class '%3'\n")
                          .arg(QLatin1String(kClassName), QString::asprintf("%p", static_cast<const void*>(this)),
                               QStringLiteral("(null)")));
        return true;
    }

    QSet<QString> names;
    if (siblings)
        for (const auto& sibling : *siblings)
            if (sibling && sibling.get() != this)
                names.insert(sibling->presentedName());
    if (names.contains(name)) {
        if (error)
            *error = validationError(NameInUseError, QStringLiteral("This name is in use already."),
                                     QStringLiteral("Please specify a different name."));
        return false;
    }
    return true;
}

QString ComputerListPresentationNode::presentedPortNumber() const
{
    const auto info = connectionInfo();
    if (!info || info->isLocal())
        return {};
    if (info->netService())
        return localized(QStringLiteral("automatic (Bonjour)"));
    // The user's digits, but no group separator: the text is edited and read back as an integer.
    QLocale locale;
    locale.setNumberOptions(QLocale::OmitGroupSeparator);
    return locale.toString(uint(info->portNumber()));
}

void ComputerListPresentationNode::setPresentedPortNumber(const QString& text)
{
    if (text.isEmpty() || !canEditPortNumber())
        return;
    const auto info = connectionInfo();
    if (auto changed = MonitorConnectionInfo::createForRemoteConnection(info->hostSpecifier(), quint16(integerValueOfText(text))))
        infoOrName_ = changed;
}

bool ComputerListPresentationNode::validatePresentedPortNumber(QVariant* value, platform::Error*) const
{
    if (!value || !value->isValid())
        return true;
    const qint64 port = integerValueOfText(value->toString());
    if (port < kLowestPort)
        *value = QString::number(kLowestPort);
    else if (port > kHighestPort)
        *value = QString::number(kHighestPort);
    return true;
}

qint64 ComputerListPresentationNode::integerValueOfText(const QString& text)
{
    qsizetype i = 0;
    while (i < text.size() && text.at(i).isSpace())
        ++i;
    bool negative = false;
    if (i < text.size() && (text.at(i) == QLatin1Char('+') || text.at(i) == QLatin1Char('-')))
        negative = text.at(i++) == QLatin1Char('-');
    quint64 magnitude = 0;
    const quint64 limit = negative ? quint64(std::numeric_limits<qint64>::max()) + 1 : quint64(std::numeric_limits<qint64>::max());
    for (; i < text.size() && text.at(i) >= QLatin1Char('0') && text.at(i) <= QLatin1Char('9'); ++i) {
        const quint64 digit = quint64(text.at(i).unicode() - '0');
        magnitude = magnitude > (limit - digit) / 10 ? limit : magnitude * 10 + digit;
    }
    if (negative)
        return magnitude >= limit ? std::numeric_limits<qint64>::min() : -qint64(magnitude);
    return qint64(magnitude);
}
