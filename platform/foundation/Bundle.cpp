#include "platform/foundation/Bundle.h"

#include "platform/foundation/Assert.h"
#include "platform/foundation/Log.h"
#include "platform/foundation/PropertyList.h"
#include "platform/foundation/Values.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLocale>

namespace platform {
namespace {

struct Globals {
    std::mutex mutex;
    std::shared_ptr<const Bundle> main;
    QStringList preferredLanguages;
    quint64 languagesGeneration = 1; // counts the changes, so bundles know when their order is stale
};

Globals& globals()
{
    static Globals g;
    return g;
}

std::optional<QByteArray> readWholeFile(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    return file.readAll();
}

// "de-CH" and "de_CH" name the same localization; the plain language is tried after the regional one.
QStringList localizationCandidates(const QString& language)
{
    QString tag = language;
    tag.replace(QLatin1Char('_'), QLatin1Char('-'));
    QStringList candidates{tag, QString(tag).replace(QLatin1Char('-'), QLatin1Char('_'))};
    const qsizetype dash = tag.indexOf(QLatin1Char('-'));
    if (dash > 0)
        candidates.append(tag.left(dash));
    return candidates;
}

} // namespace

Bundle::Bundle(QString directory, QVariantMap info)
    : directory_(std::move(directory))
    , info_(std::move(info))
{
    const QStringList found = QDir(directory_).entryList({QStringLiteral("*.lproj")}, QDir::Dirs, QDir::Name);
    for (const QString& name : found)
        lprojNames_.append(name.chopped(6));
}

std::shared_ptr<const Bundle> Bundle::forProgram(const QString& program)
{
    if (program != QLatin1String("Kelvaro") && program != QLatin1String("KelvaroLite"))
        return nullptr;
    return fromDirectory(QStringLiteral(":/resources/") + program);
}

std::shared_ptr<const Bundle> Bundle::fromDirectory(const QString& directory)
{
    const QFileInfo dir(directory);
    if (!dir.isDir())
        return nullptr;
    const QString path = directory.startsWith(QLatin1Char(':')) ? QDir::cleanPath(directory) : dir.absoluteFilePath();
    QVariantMap info;
    const QString infoPath = path + QStringLiteral("/Info.plist");
    if (QFileInfo::exists(infoPath)) {
        const std::optional<QByteArray> bytes = readWholeFile(infoPath);
        const PlistReadResult read = bytes ? readPropertyList(*bytes) : PlistReadResult{};
        const std::optional<QVariantMap> dict = values::toDictionary(read.value);
        if (!dict) {
            log("Bundle", QStringLiteral("%1 is no property-list dictionary%2")
                              .arg(infoPath, read.error.isEmpty() ? QString() : QStringLiteral(": ") + read.error));
            return nullptr;
        }
        info = *dict;
    }
    return std::make_shared<Bundle>(path, std::move(info));
}

std::shared_ptr<const Bundle> Bundle::main()
{
    Globals& g = globals();
    std::lock_guard lock(g.mutex);
    if (!g.main) {
        g.main = forProgram(QStringLiteral("Kelvaro"));
        KV_ASSERT(g.main, "the Kelvaro bundle is compiled in");
        if (!g.main)
            g.main = std::make_shared<Bundle>(QString(), QVariantMap());
    }
    return g.main;
}

void Bundle::setMain(std::shared_ptr<const Bundle> bundle)
{
    Globals& g = globals();
    std::lock_guard lock(g.mutex);
    g.main = std::move(bundle);
}

void Bundle::setPreferredLanguages(const QStringList& languages)
{
    Globals& g = globals();
    std::lock_guard lock(g.mutex);
    g.preferredLanguages = languages;
    ++g.languagesGeneration;
}

QString Bundle::identifier() const
{
    return values::toString(info_.value(QStringLiteral("CFBundleIdentifier"))).value_or(QString());
}

QStringList Bundle::localizations() const
{
    // Asked for every text looked up; the system's languages are costly to ask, and change only when set.
    quint64 generation = 0;
    {
        Globals& g = globals();
        std::lock_guard lock(g.mutex);
        generation = g.languagesGeneration;
    }
    {
        std::lock_guard lock(cacheMutex_);
        if (localizationsGeneration_ == generation)
            return localizations_;
    }
    QStringList order = preferredLocalizationsFromArray(lprojNames_);
    std::lock_guard lock(cacheMutex_);
    localizations_ = order;
    localizationsGeneration_ = generation;
    return order;
}

QStringList Bundle::preferredLocalizationsFromArray(const QStringList& available) const
{
    QStringList preferred;
    {
        Globals& g = globals();
        std::lock_guard lock(g.mutex);
        preferred = g.preferredLanguages;
    }
    if (preferred.isEmpty())
        preferred = QLocale::system().uiLanguages();
    const QString development =
        values::toString(info_.value(QStringLiteral("CFBundleDevelopmentRegion"))).value_or(QStringLiteral("en"));
    preferred << development << QStringLiteral("en") << QStringLiteral("English") << QStringLiteral("Base");

    QStringList order;
    for (const QString& language : std::as_const(preferred)) {
        for (const QString& candidate : localizationCandidates(language)) {
            if (available.contains(candidate) && !order.contains(candidate))
                order.append(candidate);
        }
    }
    return order;
}

const Bundle::StringTable* Bundle::stringTable(const QString& localization, const QString& table) const
{
    const QString cacheKey = localization + QLatin1Char('/') + table;
    std::lock_guard lock(cacheMutex_);
    auto it = tables_.find(cacheKey);
    if (it == tables_.end()) {
        std::optional<StringTable> loaded;
        const QString path = directory_ + QLatin1Char('/') + localization + QStringLiteral(".lproj/") + table +
                             QStringLiteral(".strings");
        if (const std::optional<QByteArray> bytes = readWholeFile(path)) {
            const PlistReadResult read = readPropertyList(*bytes);
            if (const std::optional<QVariantMap> dict = values::toDictionary(read.value)) {
                loaded.emplace();
                int skipped = 0;
                for (auto entry = dict->begin(); entry != dict->end(); ++entry) {
                    if (const std::optional<QString> text = values::toString(entry.value()))
                        loaded->insert(entry.key(), *text);
                    else
                        ++skipped;
                }
                if (skipped > 0)
                    log("Bundle", QStringLiteral("%1: %2 entries are no strings and were skipped").arg(path).arg(skipped));
            } else {
                log("Bundle", QStringLiteral("%1 is no property-list dictionary of strings").arg(path));
            }
        }
        it = tables_.emplace(cacheKey, std::move(loaded)).first;
    }
    // Entries are never erased, so the table outlives the lock.
    return it->second ? &*it->second : nullptr;
}

bool Bundle::hasStringTable(const QString& table) const
{
    for (const QString& localization : localizations()) {
        if (QFileInfo::exists(directory_ + QLatin1Char('/') + localization + QStringLiteral(".lproj/") + table +
                              QStringLiteral(".strings")))
            return true;
    }
    return false;
}

QString Bundle::localizedString(const QString& key, const QString& value, const QString& table, StringForms forms) const
{
    QString name = table.isEmpty() ? QStringLiteral("Localizable") : table;
    if (forms == StringForms::Polite) {
        const QString polite = name + QStringLiteral("-Polite");
        if (hasStringTable(polite))
            name = polite;
    }
    for (const QString& localization : localizations()) {
        if (const StringTable* strings = stringTable(localization, name)) {
            const auto it = strings->constFind(key);
            if (it != strings->constEnd())
                return it.value();
        }
    }
    return value.isEmpty() ? key : value;
}

std::optional<QString> Bundle::pathForResource(const QString& name, const QString& type) const
{
    if (name.isEmpty() || directory_.isEmpty())
        return std::nullopt;
    const QString file = type.isEmpty() ? name : name + QLatin1Char('.') + type;
    QStringList folders{directory_};
    for (const QString& localization : localizations())
        folders.append(directory_ + QLatin1Char('/') + localization + QStringLiteral(".lproj"));
    for (const QString& folder : std::as_const(folders)) {
        const QString path = folder + QLatin1Char('/') + file;
        if (QFileInfo(path).isFile())
            return path;
    }
    return std::nullopt;
}

std::optional<QString> Bundle::pathForImageResource(const QString& name) const
{
    static const char* const kTypes[] = {"png", "svg", "tiff", "tif", "jpg", "jpeg", "icns", "pdf"};
    if (!QFileInfo(name).suffix().isEmpty()) {
        if (std::optional<QString> path = pathForResource(name))
            return path;
    }
    for (const char* type : kTypes) {
        if (std::optional<QString> path = pathForResource(name, QLatin1String(type)))
            return path;
    }
    return std::nullopt;
}

std::optional<QByteArray> Bundle::imageData(const QString& name) const
{
    const std::optional<QString> path = pathForImageResource(name);
    return path ? readWholeFile(*path) : std::nullopt;
}

} // namespace platform
