#pragma once
// ComputerListPresentationNode: one row of the computer-list editor: a named list of remote computers, or
// one computer (a connection descriptor) in a list. Exactly two levels: the root array holds list nodes, a
// list node holds member nodes. Also reads and writes the stored form of "ComputerLists" (list name →
// array of members). Owned by the remote-connect panel's root array; main thread only.

#include "platform/foundation/Error.h"

#include <QList>
#include <QMetaType>
#include <QString>
#include <QVariant>
#include <QVariantMap>

#include <memory>
#include <optional>
#include <variant>

class ComputerListPresentationNode;
class MonitorConnectionInfo;

using ComputerListNodePtr = std::shared_ptr<ComputerListPresentationNode>;
using ComputerListNodeArray = QList<ComputerListNodePtr>;

// The root array: the list nodes in the order shown; the parent of every list node.
struct ComputerListRoot {
    ComputerListNodeArray nodes;
};

class ComputerListPresentationNode final {
public:
    using InfoPtr = std::shared_ptr<MonitorConnectionInfo>;
    // A list's name or a member's descriptor.
    using InfoOrName = std::variant<QString, InfoPtr>;
    using Parent = std::variant<std::monostate, std::weak_ptr<ComputerListPresentationNode>, std::weak_ptr<ComputerListRoot>>;

    static inline const QString kErrorDomain = QStringLiteral("com.tarnwell.internal.ComputerListPresentationNode");
    // PortOutOfRangeError: a stored member's port that no port number can be; the member is not read.
    enum ErrorCode : qint64 { EmptyNameError = 1, NameInUseError = 2, PortOutOfRangeError = 3 };
    // A stored member that could not be read: where it stood in its list, and what it was.
    struct UnreadableMember {
        qsizetype position = 0;
        QVariant stored;
    };
    // The remote agent's TCP port, which every new manual member gets.
    static constexpr quint16 kDefaultPortNumber = 37037;
    static constexpr qint64 kLowestPort = 1024;
    static constexpr qint64 kHighestPort = 65535;

    // --- The stored form ----------------------------------------------------------------------------------
    // Appends a list node per readable list to `root`, in the order the dictionary yields its keys. A list
    // whose key is empty or whose value is no array is not read; when `unreadable` is given it gets that
    // entry as stored. A malformed member is not shown: its list keeps it as stored (unreadableMembers), and
    // one whose port is out of range adds an error for the user to `refusals`. NO for no dictionary or no
    // root, and when anything had to be left out.
    static bool addComputerListPresentationNodesFromPropertyList(const std::optional<QVariantMap>& plist,
                                                                 const std::shared_ptr<ComputerListRoot>& root,
                                                                 QVariantMap* unreadable = nullptr,
                                                                 QList<platform::Error>* refusals = nullptr);
    // Each list under its name, its members' property-list forms in order, with the members it could not
    // read back where they stood; none for no root.
    static std::optional<QVariantMap> propertyListForRootArray(const std::shared_ptr<ComputerListRoot>& root);
    // One stored member: a descriptor's dictionary, or the older [host, port] pair with a port of 0...65535;
    // null when malformed.
    static InfoPtr connectionInfoFromStoredMember(const QVariant& member);

    // --- Creation (neither adds the node to its parent; the caller does) ------------------------------------
    // Null for an empty name or no root.
    static ComputerListNodePtr createAsEmptyListNamed(const QString& name, const std::shared_ptr<ComputerListRoot>& root);
    // Null for no descriptor or no list.
    static ComputerListNodePtr createAsMemberWithConnectionInfo(const InfoPtr& info, const ComputerListNodePtr& parent);

    // --- Properties -----------------------------------------------------------------------------------------
    const InfoOrName& infoOrName() const { return infoOrName_; }
    void setInfoOrName(InfoOrName infoOrName) { infoOrName_ = std::move(infoOrName); }
    // A member's descriptor; null for a list.
    InfoPtr connectionInfo() const;
    // A list's members in order; null for a member.
    ComputerListNodeArray* members() { return members_ ? &*members_ : nullptr; }
    const ComputerListNodeArray* members() const { return members_ ? &*members_ : nullptr; }
    // A list's stored members that could not be read, by position; they go with the list until it is removed.
    const QList<UnreadableMember>& unreadableMembers() const { return unreadableMembers_; }
    const Parent& parent() const { return parent_; }
    void setParent(Parent parent) { parent_ = std::move(parent); }
    // The list node of a member; null otherwise.
    ComputerListNodePtr parentList() const;

    bool isLeaf() const { return !members_; }
    // A member that reaches its computer by host and port.
    bool canEditPortNumber() const;

    // A list's name; a Bonjour member's service name; a host-and-port member's host.
    QString presentedName() const;
    // Ignores an empty name; otherwise stores a new name or a new descriptor.
    void setPresentedName(const QString& name);
    // Key-value validation: no value is valid; an empty name (code 1) or another sibling's name (code 2) is not.
    bool validatePresentedName(const QVariant& value, platform::Error* error) const;

    // Empty for a list, "automatic (Bonjour)" for a Bonjour member, the port for a host-and-port member.
    QString presentedPortNumber() const;
    // Ignores an empty text and nodes whose port cannot be edited; otherwise a new descriptor with that port.
    void setPresentedPortNumber(const QString& text);
    // Never refuses: brings the text's integer value into 1024..65535, replacing `*value` when it lies outside.
    bool validatePresentedPortNumber(QVariant* value, platform::Error* error) const;

    // The integer value of a text as a text field gives it: leading blanks, a sign and the digits up to the
    // first other character; 0 for no digits; saturated at the 64-bit limits.
    static qint64 integerValueOfText(const QString& text);

private:
    InfoOrName infoOrName_;
    std::optional<ComputerListNodeArray> members_;
    QList<UnreadableMember> unreadableMembers_;
    Parent parent_;
};

Q_DECLARE_METATYPE(ComputerListNodePtr)
