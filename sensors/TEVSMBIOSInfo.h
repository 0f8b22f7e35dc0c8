#pragma once
// Decodes an SMBIOS structure table (DSP0134) into one dictionary per structure, in table order. Made
// complete by createWithData on the calling thread; read-only afterwards, so any thread may read it.

#include <QByteArray>
#include <QMap>
#include <QStringList>
#include <QVariant>

#include <memory>
#include <optional>

class TEVSMBIOSInfo {
public:
    // The largest table read. An SMBIOS 2 table cannot be larger (its length is 16 bits), and the SMBIOS 3
    // tables of real computers stay far below it (a few KiB on a Mac). A structure with decoded fields costs
    // a few hundred bytes of dictionaries however short it is, so the cap bounds what a forged table costs.
    static constexpr qsizetype kMaximumTableBytes = 64 * 1024;

    // Null (and a log line) for null data or a table larger than kMaximumTableBytes; any other bytes give a
    // reader, however damaged the table.
    static std::shared_ptr<TEVSMBIOSInfo> createWithData(const QByteArray& data);
    // The reader of the local computer's table: the "SMBIOS" data of the first "AppleSMBIOS" service that
    // has data. Kept once found, for as long as the process reads the same registry (a test selecting another
    // simulated computer gets that computer's table); null when there is none, and the next call looks again.
    static std::shared_ptr<const TEVSMBIOSInfo> systemManagementBIOSInformation();

    // {"TypeCode": quint64, "Contents": {"StructureName": text, fields...}}; "Contents" is missing when
    // the structure could not be decoded.
    const QVariantList& systemManagementStructures() const { return structures_; }
    // Type code → "Contents" of the last structure of that type. Per reader.
    const QMap<quint8, QVariantMap>& recordsByTypeCode() const { return records_; }
    std::optional<QVariantMap> recordForSMBIOSTypeCode(quint8 type) const;
    // "SMBIOS: <structure list>\n", the list in old-style property-list text (arrays in parentheses,
    // dictionaries in braces, data in angle brackets).
    QString description() const;

    explicit TEVSMBIOSInfo(const QByteArray& data); // use createWithData

private:
    struct Shared;
    std::optional<QVariantMap> currentStructureDescription(Shared& shared);
    std::optional<QStringList> currentStringArray();
    std::optional<QString> currentString();
    static void fillDescription(QVariantMap& description, quint8 index, const QStringList& strings,
                                const QString& key);

    QByteArray data_;
    qsizetype parserPosition_ = 0;
    qsizetype endPosition_ = 0;
    QVariantList structures_;
    QMap<quint8, QVariantMap> records_;
};
