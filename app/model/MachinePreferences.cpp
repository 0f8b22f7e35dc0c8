#include "app/model/MachinePreferences.h"

// Interface first; the behaviour follows.

std::optional<MachinePreferences::Map> MachinePreferences::allMachinePreferencesFromUserDefaultsWithKey(const QString& key)
{
    if (key.isNull())
        return std::nullopt;
    return Map{};
}

std::shared_ptr<MachinePreferences> MachinePreferences::machinePreferencesFromUserDefaultsVersion1()
{
    return std::make_shared<MachinePreferences>();
}

QString MachinePreferences::systemFontName()
{
    return QStringLiteral("Sans Serif");
}

MachinePreferences::MachinePreferences()
    : standardWindowFontName_(systemFontName())
    , screenWindowFontName_(systemFontName())
    , menuBarFontName_(systemFontName())
{
}

MachinePreferences::~MachinePreferences() = default;

std::shared_ptr<MachinePreferences> MachinePreferences::createForLocalClient(const std::shared_ptr<TEVMonitoringClient>& client)
{
    return client ? std::make_shared<MachinePreferences>() : nullptr;
}

std::shared_ptr<MachinePreferences> MachinePreferences::createWithDefaultsDictionary(const std::optional<QVariantMap>& dictionary)
{
    return dictionary ? std::make_shared<MachinePreferences>() : nullptr;
}

QVariantMap MachinePreferences::defaultsDictionary() { return {}; }
void MachinePreferences::addNewSensorsWithUniversalIdentifiers(const QStringList&, const std::shared_ptr<TEVMonitoringClient>&) {}
void MachinePreferences::removeAllReferencesToGauge(const std::shared_ptr<TEVGauge>&) {}
void MachinePreferences::removeTypeInvalidGaugesFromHistoryWindowPreferences() {}
void MachinePreferences::updateOutdatedSensorNames() {}
void MachinePreferences::resetGaugesCustomNames(bool, bool, bool, bool, bool, bool) {}

MachinePreferences::Font MachinePreferences::standardWindowFont() const { return {standardWindowFontName_, standardWindowFontSize_}; }
void MachinePreferences::setStandardWindowFontName(const QString& name, float size)
{
    standardWindowFontName_ = name;
    standardWindowFontSize_ = size;
}
MachinePreferences::Font MachinePreferences::screenDisplayFont() const { return {screenWindowFontName_, screenWindowFontSize_}; }
void MachinePreferences::setScreenDisplayFontName(const QString& name, float size)
{
    screenWindowFontName_ = name;
    screenWindowFontSize_ = size;
}
MachinePreferences::Font MachinePreferences::menuBarFont() const { return {menuBarFontName_, menuBarFontSize_}; }
void MachinePreferences::setMenuBarFontName(const QString& name, float size)
{
    menuBarFontName_ = name;
    menuBarFontSize_ = size;
}

void MachinePreferences::readDefaultsDictionary(const QVariantMap&) {}
