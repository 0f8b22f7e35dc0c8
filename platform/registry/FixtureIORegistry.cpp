#include "platform/registry/FixtureIORegistry.h"

#include "platform/foundation/Clock.h"
#include "platform/foundation/Values.h"

#include <QHash>
#include <QRegularExpression>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <limits>

namespace platform {

namespace {

bool isPlanePath(const QString& path)
{
    static const QRegularExpression form(QStringLiteral("^[A-Za-z][A-Za-z0-9]*:/.*$"));
    return form.match(path).hasMatch();
}

struct Drift {
    double perSecond = 0;
    double minimum = -std::numeric_limits<double>::infinity();
    double maximum = std::numeric_limits<double>::infinity();
};

// Fixed properties of which some move with the shared clock from the moment the source was made.
class DriftingPropertySource final : public IORegistryPropertySource {
public:
    DriftingPropertySource(QVariantMap properties, QHash<QString, Drift> drifts)
        : properties_(std::move(properties)), drifts_(std::move(drifts)), origin_(monotonicNow())
    {
    }

    QVariantMap properties() const override
    {
        const double elapsed = std::chrono::duration<double>(monotonicNow() - origin_).count();
        QVariantMap result = properties_;
        for (auto it = drifts_.constBegin(); it != drifts_.constEnd(); ++it)
            result.insert(it.key(), moved(result.value(it.key()), it.value(), elapsed));
        return result;
    }

private:
    static QVariant moved(const QVariant& value, const Drift& drift, double elapsed)
    {
        if (const auto list = values::toArray(value)) {
            QVariantList result;
            for (const QVariant& element : *list)
                result.append(moved(element, drift, elapsed));
            return result;
        }
        const auto start = values::toReal(value);
        if (!start)
            return value;
        const double moved = std::clamp(*start + drift.perSecond * elapsed, drift.minimum, drift.maximum);
        // A rate that is not a number (or an infinite one at the start) gives none: the value stays as stored.
        if (std::isnan(moved))
            return value;
        const double now = values::kindOf(value) == values::Kind::Real ? moved : std::round(moved);
        // 2^63 as a double: the first value outside qint64 and quint64's lower half.
        constexpr double limit = 9223372036854775808.0;
        switch (values::kindOf(value)) {
        case values::Kind::Signed:
            return values::fromSigned(now >= limit ? std::numeric_limits<qint64>::max()
                                      : now <= -limit ? std::numeric_limits<qint64>::min()
                                                      : qint64(now));
        case values::Kind::Unsigned:
            return values::fromUnsigned(now <= 0 ? 0 : now >= 2 * limit ? std::numeric_limits<quint64>::max() : quint64(now));
        case values::Kind::Real:
            return values::fromReal(now);
        default:
            return value;
        }
    }

    QVariantMap properties_;
    QHash<QString, Drift> drifts_;
    Clock::Duration origin_;
};

bool readDrifts(const QVariant& value, const QVariantMap& properties, const QString& keyPath,
                QHash<QString, Drift>& drifts, QString& error)
{
    const auto section = values::toDictionary(value);
    if (!section) {
        error = keyPath + QStringLiteral(": must be a dictionary");
        return false;
    }
    for (auto it = section->constBegin(); it != section->constEnd(); ++it) {
        const QString path = keyPath + QLatin1Char('.') + it.key();
        const QVariant target = properties.value(it.key());
        const auto list = values::toArray(target);
        const bool numeric = values::isNumber(target) && values::kindOf(target) != values::Kind::Bool;
        if (!numeric && !(list && std::all_of(list->begin(), list->end(), [](const QVariant& element) {
                return values::isNumber(element) && values::kindOf(element) != values::Kind::Bool;
            }))) {
            error = path + QStringLiteral(": the property must be a number or an array of numbers");
            return false;
        }
        const auto rule = values::toDictionary(it.value());
        if (!rule) {
            error = path + QStringLiteral(": must be a dictionary");
            return false;
        }
        Drift drift;
        for (auto field = rule->constBegin(); field != rule->constEnd(); ++field) {
            const auto number = values::toReal(field.value());
            const bool isBool = values::kindOf(field.value()) == values::Kind::Bool;
            if (field.key() == QLatin1String("PerSecond") && number && !isBool)
                drift.perSecond = *number;
            else if (field.key() == QLatin1String("Minimum") && number && !isBool)
                drift.minimum = *number;
            else if (field.key() == QLatin1String("Maximum") && number && !isBool)
                drift.maximum = *number;
            else {
                error = path + QLatin1Char('.') + field.key() + QStringLiteral(": unknown key or not a number");
                return false;
            }
        }
        if (!rule->contains(QStringLiteral("PerSecond")) || drift.minimum > drift.maximum) {
            error = path + QStringLiteral(": needs PerSecond and Minimum not above Maximum");
            return false;
        }
        drifts.insert(it.key(), drift);
    }
    return true;
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
                                      QStringLiteral("Properties"), QStringLiteral("Children"),
                                      QStringLiteral("Drift")};
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

    std::shared_ptr<const IORegistryPropertySource> source;
    if (entry->contains(QStringLiteral("Drift"))) {
        QHash<QString, Drift> drifts;
        if (!readDrifts(entry->value(QStringLiteral("Drift")), properties, keyPath + QStringLiteral(".Drift"), drifts,
                        error))
            return false;
        source = std::make_shared<DriftingPropertySource>(properties, drifts);
    } else {
        source = std::make_shared<StaticIORegistryPropertySource>(properties);
    }
    const int index = builder.add(parent, classChain, name, std::move(source), paths);
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
