#pragma once
// Bundle: a program's resources: its information dictionary (Info.plist), its string tables
// (<lang>.lproj/<Table>.strings, XML property-list dictionaries of strings) and its images. The programs'
// bundles are compiled in (":/resources/<Program>"); a folder on disk with the same layout is a bundle too.
// Immutable apart from a cache of loaded tables; shared and thread-safe.

#include <QByteArray>
#include <QHash>
#include <QString>
#include <QStringList>
#include <QVariant>

#include <map>
#include <memory>
#include <mutex>
#include <optional>

namespace platform {

class Bundle {
public:
    // Whether a lookup asks for the polite forms of the texts ("<Table>-Polite" tables).
    enum class StringForms { Plain, Polite };

    // The compiled-in bundle of "Kelvaro" or "KelvaroLite"; null for another name.
    static std::shared_ptr<const Bundle> forProgram(const QString& program);
    // A bundle from a folder. Null when the folder does not exist or its Info.plist (which may be absent)
    // is no property-list dictionary.
    static std::shared_ptr<const Bundle> fromDirectory(const QString& directory);

    // The running program's bundle: the one set at start, else Kelvaro's.
    static std::shared_ptr<const Bundle> main();
    // Null returns to Kelvaro's.
    static void setMain(std::shared_ptr<const Bundle> bundle);

    // Languages tried before the development region ("de-CH", "de", ...); empty means the system's
    // languages. Process-wide.
    static void setPreferredLanguages(const QStringList& languages);

    QString resourceDirectory() const { return directory_; }
    QString identifier() const; // CFBundleIdentifier; empty when absent
    const QVariantMap& infoDictionary() const { return info_; }
    QVariant objectForInfoDictionaryKey(const QString& key) const { return info_.value(key); }

    // The .lproj names of the bundle in lookup order: preferred languages that the bundle has, then the
    // development region (CFBundleDevelopmentRegion, else "en"), "English" and "Base".
    QStringList localizations() const;
    // `available` (language codes such as "en", "de-CH") ordered by the preferred languages, then the
    // development region and English, as localizations() orders a bundle's folders; the codes no preference
    // reaches are left out. Empty when none matches.
    QStringList preferredLocalizationsFromArray(const QStringList& available) const;

    // The text for `key` in `table` ("Localizable" when empty), taken from the first localization whose
    // table has the key. Polite: "<table>-Polite" is used instead when the bundle has that table. A key that
    // no table holds (or a missing table) gives `value` when it is not empty, else the key.
    QString localizedString(const QString& key, const QString& value = {}, const QString& table = {},
                            StringForms forms = StringForms::Plain) const;
    // True when some localization has <table>.strings.
    bool hasStringTable(const QString& table) const;

    // "<name>.<type>" (just `name` when type is empty) in the resource folder, else in the localizations
    // in lookup order.
    std::optional<QString> pathForResource(const QString& name, const QString& type = {}) const;
    // An image by name, with or without extension (png, svg, tiff, tif, jpg, jpeg, icns, pdf are tried).
    std::optional<QString> pathForImageResource(const QString& name) const;
    std::optional<QByteArray> imageData(const QString& name) const;

    Bundle(QString directory, QVariantMap info); // use forProgram/fromDirectory

private:
    using StringTable = QHash<QString, QString>;
    const StringTable* stringTable(const QString& localization, const QString& table) const;

    QString directory_;
    QVariantMap info_;
    QStringList lprojNames_; // as found, without ".lproj"
    mutable std::mutex cacheMutex_;
    mutable std::map<QString, std::optional<StringTable>> tables_; // "<lproj>/<table>"; nothing = none
    mutable QStringList localizations_;            // in lookup order, for the languages' generation below
    mutable quint64 localizationsGeneration_ = 0;
};

} // namespace platform
