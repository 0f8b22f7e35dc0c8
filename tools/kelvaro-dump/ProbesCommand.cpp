#include "tools/kelvaro-dump/Commands.h"

#include "sensors/TEVActiveFileSystem.h"
#include "sensors/TEVArtificialSensor.h"
#include "sensors/TEVBatteryInfo.h"
#include "sensors/TEVLocalNetworkProbe.h"
#include "sensors/TEVMachineInfo.h"
#include "sensors/TEVSMARTStorageDevice.h"
#include "sensors/TEVSensor.h"
#include "sensors/TEVSoftwareRAIDDevice.h"

namespace dump {

namespace {

using Probe = TEVArtificialSensor;

// The volumes a disk probe may watch: those with blocks, a name, and not a kernel interface.
TEVActiveFileSystem::FileSystemList volumes()
{
    TEVActiveFileSystem::FileSystemList result;
    for (const auto& fileSystem : TEVActiveFileSystem::mountedFileSystemsEnforcingUpdate(true)) {
        if (fileSystem->blockCount() != 0 && fileSystem->mountPointPath() != QLatin1String("/dev")
            && !(fileSystem->mountFlags() & TEVActiveFileSystem::NoBrowse) && !fileSystem->volumeName().isEmpty())
            result.append(fileSystem);
    }
    return result;
}

struct Interface {
    QString name;
    QString description;
};

QList<Interface> interfaces()
{
    QList<Interface> result;
    const auto network = TEVLocalNetworkProbe::sharedNetworkProbe();
    if (!network)
        return result;
    const auto aliases = network->currentPresentationNamesByBSDInterfaceNames();
    for (const QString& name : network->currentNetworkInterfaceBSDNames())
        result.append({name, aliases.value(name, name)});
    return result;
}

// Voltage (quantity 2) and current (quantity 3) sensors of the other classes.
TEVSensorList sensorsOfQuantity(const TEVSensorList& sensors, qint64 quantity)
{
    TEVSensorList result;
    for (const auto& sensor : sensors) {
        if (sensor->quantityType() == quantity && !dynamic_cast<const Probe*>(sensor.get()))
            result.append(sensor);
    }
    return result;
}

} // namespace

QList<std::shared_ptr<TEVArtificialSensor>> defaultProbes(const TEVSensorList& sensors)
{
    QList<std::shared_ptr<Probe>> probes;
    const auto add = [&probes](std::shared_ptr<Probe> probe) {
        if (probe)
            probes.append(std::move(probe));
    };
    add(Probe::createAsLoadSensorForCPUAtIndex(0));
    const auto disks = volumes();
    std::shared_ptr<TEVActiveFileSystem> disk = disks.isEmpty() ? nullptr : disks.first();
    for (const auto& fileSystem : disks) {
        if (fileSystem->mountPointPath() == QLatin1String("/"))
            disk = fileSystem;
    }
    for (qint64 kind = Probe::DiskCapacity; kind <= Probe::DiskUsed && disk; ++kind)
        add(Probe::createAsStorageSensorForPath(disk->mountPointPath(), kind));
    for (qint64 kind = Probe::MemoryFree; kind <= Probe::MemorySwapUsed; ++kind)
        add(Probe::createAsMemorySensorOfType(kind));
    const auto drives = TEVSMARTStorageDevice::allSMARTDevicesRestrictToTemperatureSupport(false);
    if (!drives.empty())
        add(Probe::createAsSMARTStatusSensorForProductName(drives.front()->productName(), drives.front()->serialNumber()));
    const auto sets = TEVSoftwareRAIDDevice::allSoftwareRAIDs();
    if (!sets.empty())
        add(Probe::createAsRAIDStatusSensorForUUID(sets.front()->identifier()));
    const auto voltages = sensorsOfQuantity(sensors, 2);
    const auto currents = sensorsOfQuantity(sensors, 3);
    if (!voltages.isEmpty() && !currents.isEmpty())
        add(Probe::createAsPowerSensorForVoltageSensorNamed(voltages.first()->uniqueIdentifier(), voltages.first()->locationIdentifier(),
                                                           currents.first()->uniqueIdentifier(), currents.first()->locationIdentifier()));
    if (!TEVBatteryInfo::allBatteries().isEmpty())
        add(Probe::createAsBatterySensorForIndex(0));
    add(Probe::createAsTotalCPULoadSensor());
    add(Probe::createAsProcessCountSensor());
    // The first interface that has carried traffic and is not the loopback one, else the first one.
    const auto links = interfaces();
    const auto network = TEVLocalNetworkProbe::sharedNetworkProbe();
    const Interface* link = links.isEmpty() ? nullptr : &links.first();
    for (const auto& candidate : links) {
        if (candidate.name != QLatin1String("lo") && network
            && network->numberOfInputBytesForBSDInterface(candidate.name, true).value_or(0) > 0) {
            link = &candidate;
            break;
        }
    }
    for (qint64 kind = Probe::NetOutPackages; kind <= Probe::NetInBytesTotal && link; ++kind)
        add(Probe::createAsNetworkInterfaceSensorWithType(kind, link->name, link->description));
    return probes;
}

// Every probe kind with the sources this computer offers for it.
int probesCommand(const QStringList& arguments)
{
    if (!arguments.isEmpty())
        return 2;
    const TEVSensorList sensors = TEVSensor::allSensors();
    QVariantList sourcesOfVolumes, sourcesOfDrives, sourcesOfSets, sourcesOfBatteries, sourcesOfProcessors,
        sourcesOfInterfaces, voltageSources, currentSources;
    const auto machine = TEVMachineInfo::sharedMachineInfo();
    for (quint64 index = 0; machine && index < machine->processorCount(); ++index)
        sourcesOfProcessors.append(QVariantMap{{QStringLiteral("Index"), qint64(index)}});
    for (const auto& fileSystem : volumes())
        sourcesOfVolumes.append(QVariantMap{{QStringLiteral("Source1"), fileSystem->mountPointPath()},
                                            {QStringLiteral("Name"), fileSystem->volumeName()}});
    for (const auto& drive : TEVSMARTStorageDevice::allSMARTDevicesRestrictToTemperatureSupport(false))
        sourcesOfDrives.append(QVariantMap{{QStringLiteral("Source1"), drive->productName()},
                                           {QStringLiteral("Source2"), drive->serialNumber()}});
    for (const auto& set : TEVSoftwareRAIDDevice::allSoftwareRAIDs())
        sourcesOfSets.append(QVariantMap{{QStringLiteral("Source1"), set->identifier()}, {QStringLiteral("Name"), set->name()},
                                         {QStringLiteral("Online"), set->isOnline()}});
    for (qsizetype index = 0; index < TEVBatteryInfo::allBatteries().size(); ++index)
        sourcesOfBatteries.append(QVariantMap{{QStringLiteral("Index"), qint64(index)}});
    for (const auto& link : interfaces())
        sourcesOfInterfaces.append(QVariantMap{{QStringLiteral("Source1"), link.name}, {QStringLiteral("Source2"), link.description}});
    for (const auto& sensor : sensorsOfQuantity(sensors, 2))
        voltageSources.append(Probe::sensorSpecifier(sensor->uniqueIdentifier(), sensor->locationIdentifier()));
    for (const auto& sensor : sensorsOfQuantity(sensors, 3))
        currentSources.append(Probe::sensorSpecifier(sensor->uniqueIdentifier(), sensor->locationIdentifier()));

    QVariantList kinds;
    for (qint64 kind = 1; kind <= Probe::LastKind; ++kind) {
        Probe probe;
        probe.setArtificialType(kind);
        QVariantMap row{{QStringLiteral("Type"), Probe::typeKeyForKind(kind)}, {QStringLiteral("Kind"), kind},
                        {QStringLiteral("Name"), probe.localizedSensorType()}};
        if (kind == Probe::CPULoad)
            row.insert(QStringLiteral("Sources"), sourcesOfProcessors);
        else if (kind >= Probe::DiskCapacity && kind <= Probe::DiskUsed)
            row.insert(QStringLiteral("Sources"), sourcesOfVolumes);
        else if (kind == Probe::SMARTStatus)
            row.insert(QStringLiteral("Sources"), sourcesOfDrives);
        else if (kind == Probe::RAIDStatus)
            row.insert(QStringLiteral("Sources"), sourcesOfSets);
        else if (kind == Probe::Power)
            row.insert(QStringLiteral("Sources"), QVariantMap{{QStringLiteral("Source1"), voltageSources},
                                                              {QStringLiteral("Source2"), currentSources}});
        else if (kind == Probe::RemainingBattery)
            row.insert(QStringLiteral("Sources"), sourcesOfBatteries);
        else if (kind >= Probe::NetOutPackages)
            row.insert(QStringLiteral("Sources"), sourcesOfInterfaces);
        kinds.append(row);
    }
    printPropertyList(kinds);
    return 0;
}

} // namespace dump
