#pragma once
// MachineSpecifier: the identity of one computer this user has monitored, a name to show and its serial
// number, as kept per model in the "SeenModels" lists. Immutable value; any thread.

#include <QList>
#include <QString>
#include <QVariant>
#include <QVariantMap>

#include <memory>
#include <optional>

namespace platform {
class HostRoot;
}

class MachineSpecifier {
public:
    using List = QList<std::shared_ptr<MachineSpecifier>>;

    MachineSpecifier(const QString& hostname, const QString& serialNumber);

    // The specifiers of a list of dictionary forms; elements that give none are left out. Nothing for
    // nil; a value that is no list is logged and gives nothing.
    static std::optional<List> specifierArrayForDictionaryArray(const QVariant& array);
    // The local computer with that serial, named by its host name or, failing that, its computer name.
    // Null for a null serial.
    static std::shared_ptr<MachineSpecifier> createWithSerialNumber(const QString& serialNumber);
    // Null unless both keys hold strings.
    static std::shared_ptr<MachineSpecifier> createWithDictionary(const QVariant& dictionary);

    // The local name from the host's best representation: that, unless it is empty, an address text or
    // the unresolved marker, in which case the computer name.
    static QString localNameFromHostRepresentation(const QString& bestRepresentation, const QString& computerName);
    // The computer name the system keeps (the pretty host name, else the kernel host name); empty when
    // it has none.
    static QString systemComputerName(const platform::HostRoot& root);

    QString hostname() const { return hostname_; }
    QString serialNumber() const { return serialNumber_; }
    // {"HostOrComputerName", "SerialNumber"}.
    QVariantMap dictionaryRepresentation() const;

    // By serial number alone.
    bool isEqual(const MachineSpecifier& other) const { return serialNumber_ == other.serialNumber_; }
    bool operator==(const MachineSpecifier& other) const { return isEqual(other); }

private:
    QString hostname_;
    QString serialNumber_;
};
