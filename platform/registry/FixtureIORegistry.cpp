#include "platform/registry/FixtureIORegistry.h"

#include "platform/foundation/Values.h"

#include <QRegularExpression>

namespace platform {

namespace {

bool isPlanePath(const QString& path)
{
    static const QRegularExpression form(QStringLiteral("^[A-Za-z][A-Za-z0-9]*:/.*$"));
    return form.match(path).hasMatch();
}

bool addEntry(IORegistry::Builder& builder, int parent, const QVariant& value, const QString& keyPath,
              QString& error)
{
    const auto entry = values::toDictionary(value);
    if (!entry) {
        error = keyPath + QStringLiteral(": an entry must be a dictionary");
        return false;
    }
    static const QStringList known = {QStringLiteral("Class"), QStringLiteral("Name"), QStringLiteral("Path"),
                                      QStringLiteral("Properties"), QStringLiteral("Children")};
    for (auto it = entry->constBegin(); it != entry->constEnd(); ++it) {
        if (!known.contains(it.key())) {
            error = keyPath + QLatin1Char('.') + it.key() + QStringLiteral(": unknown key");
            return false;
        }
    }

    QStringList classChain;
    const auto classes = values::toArray(entry->value(QStringLiteral("Class")));
    if (!classes || classes->isEmpty()) {
        error = keyPath + QStringLiteral(".Class: must be a non-empty array of class names");
        return false;
    }
    for (qsizetype i = 0; i < classes->size(); ++i) {
        const auto name = values::toString(classes->at(i));
        if (!name || name->isEmpty()) {
            error = keyPath + QStringLiteral(".Class[%1]: must be a non-empty string").arg(i);
            return false;
        }
        classChain.append(*name);
    }

    QString name = classChain.front();
    if (entry->contains(QStringLiteral("Name"))) {
        const auto given = values::toString(entry->value(QStringLiteral("Name")));
        if (!given) {
            error = keyPath + QStringLiteral(".Name: must be a string");
            return false;
        }
        name = *given;
    }

    QStringList paths;
    if (entry->contains(QStringLiteral("Path"))) {
        const auto path = values::toString(entry->value(QStringLiteral("Path")));
        if (!path || !isPlanePath(*path)) {
            error = keyPath + QStringLiteral(".Path: must be a string \"<Plane>:/<path>\"");
            return false;
        }
        if (builder.hasPath(*path)) {
            error = keyPath + QStringLiteral(".Path: \"%1\" is already taken").arg(*path);
            return false;
        }
        paths.append(*path);
    }

    QVariantMap properties;
    if (entry->contains(QStringLiteral("Properties"))) {
        const auto given = values::toDictionary(entry->value(QStringLiteral("Properties")));
        if (!given) {
            error = keyPath + QStringLiteral(".Properties: must be a dictionary");
            return false;
        }
        properties = *given;
    }

    std::optional<QVariantList> children;
    if (entry->contains(QStringLiteral("Children"))) {
        children = values::toArray(entry->value(QStringLiteral("Children")));
        if (!children) {
            error = keyPath + QStringLiteral(".Children: must be an array");
            return false;
        }
    }

    const int index =
        builder.add(parent, classChain, name, std::make_shared<StaticIORegistryPropertySource>(properties), paths);
    if (index < 0) {
        error = keyPath + QStringLiteral(": the entry could not be added");
        return false;
    }
    if (children) {
        for (qsizetype i = 0; i < children->size(); ++i) {
            if (!addEntry(builder, index, children->at(i), keyPath + QStringLiteral(".Children[%1]").arg(i), error))
                return false;
        }
    }
    return true;
}

} // namespace

FixtureIORegistry::LoadResult FixtureIORegistry::load(const QVariantList& section)
{
    IORegistry::Builder builder;
    QString error;
    if (!addEntries(section, builder, error))
        return {nullptr, error};
    return {builder.finish(), {}};
}

bool FixtureIORegistry::addEntries(const QVariantList& section, IORegistry::Builder& builder, QString& error)
{
    for (qsizetype i = 0; i < section.size(); ++i) {
        if (!addEntry(builder, IORegistry::RootIndex, section.at(i), QStringLiteral("Registry[%1]").arg(i), error))
            return false;
    }
    return true;
}

} // namespace platform
