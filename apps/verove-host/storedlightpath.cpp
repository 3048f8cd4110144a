// The light path a user's earlier session left in the device's settings file, and the check that
// the started device found it through the host's device manager.
#include "storedlightpath.h"

#include <QFileInfo>
#include <cmath>

#include "devicedmd.h"
#include "protocolmeasurement.h"
#include "sessionexit.h"
#include "zt/zt_devices.h"
#include "zt/zt_dmd.h"
#include "zt/zt_laserpower.h"
#include "zt/zt_settings.h"
#include "zt/zt_stimulation.h"
#include "zthost/microscope.h"
#include "zthost/zthost.h"

int WriteLightPathSettings(const Scenario& scenario, const std::vector<std::wstring>& units,
                           const QString& settingsFile, QString* detail) {
    // What a user's earlier session left in the device's settings file: the device finds its
    // light, switcher and shutters there when it starts up, through the host's device manager.
    const ScenarioLight& light = scenario.Light();
    zthost::LogicalDeviceSetup source;
    if (!zthost::FindLogicalDevice(light.sourceId, &source)) {
        *detail = QStringLiteral("the host has no device %1").arg(light.sourceId);
        return kExitFailed;
    }
    const size_t lineCount = light.multiLaser ? source.lines.size() : 1;
    CZtLiteVariantW tree;
    tree.OpenLevel(L"Verove");
    tree.AddInt(L"FileVersion", 8);
    // Every unit finds the same light path under its own name.
    for (const std::wstring& device : units) {
        tree.OpenLevel(device.c_str());
        tree.OpenLevel(L"Definition");
        tree.OpenLevel(L"Illumination");
        tree.AddString(L"LaserLaunch", light.source.c_str());
        tree.AddString(L"LaserLaunchType",
                       light.multiLaser ? L"IDeviceMultiLaser" : L"IDeviceLight");
        tree.OpenLevel(L"LaserSwitcher");
        tree.AddString(L"LaserSwitcherKey", light.switcher.c_str());
        tree.AddUInt(L"LaserSwitcherPort", static_cast<std::uint32_t>(light.switcherPort));
        tree.CloseLevel();
        tree.OpenLevel(L"StimulationGrups");
        for (std::uint32_t g = 0; g < 3; ++g) {
            tree.OpenLevel(L"Group");
            tree.AddUInt(L"Id", g);
            tree.OpenLevel(L"LaserLines");
            for (size_t l = 0; l < lineCount; ++l) {
                const ScenarioLine line =
                    l < light.groups[g].size() ? light.groups[g][l] : ScenarioLine();
                tree.OpenLevel(L"LaserLine");
                tree.AddUInt(L"Id", static_cast<std::uint32_t>(l));
                tree.AddDouble(L"Power", line.power);
                tree.AddBool(L"Used", line.used);
                tree.AddBool(L"Visible", true);
                tree.CloseLevel();
            }
            tree.CloseLevel();
            tree.CloseLevel();
        }
        tree.CloseLevel();
        tree.OpenLevel(L"ShutterChain");
        for (const std::wstring& key : light.shutters) {
            tree.AddString(L"Shutter", key.c_str());
        }
        tree.CloseLevel();
        // Illumination sequences run on external triggers, which the user has set up then.
        tree.AddBool(L"ExternalTriggerSet", !scenario.Protocol().illuminationSequence.empty());
        tree.CloseLevel();
        tree.CloseLevel();
        tree.CloseLevel();
    }
    tree.Finalize();
    const QString name = QFileInfo(settingsFile).fileName();
    const int status = ZT_SaveSettingsFile(name.toStdWString().c_str(), tree);
    if (status != 0) {
        *detail = QStringLiteral("cannot write %1 (status %2)").arg(name).arg(status);
        return kExitFailed;
    }
    QStringList keys;
    for (const std::wstring& key : light.shutters) {
        keys << '"' + QString::fromStdWString(key) + '"';
    }
    *detail = QStringLiteral("%1: light \"%2\" with %3 lines per group, %4, shutter chain %5")
                  .arg(name, QString::fromStdWString(light.source))
                  .arg(lineCount)
                  .arg(light.switcher.empty() ? QStringLiteral("no switcher")
                                              : QStringLiteral("switcher \"%1\" port %2")
                                                    .arg(QString::fromStdWString(light.switcher))
                                                    .arg(light.switcherPort))
                  .arg(keys.isEmpty() ? QStringLiteral("empty") : keys.join(", "));
    return kExitDone;
}

int CheckLightPathAssociation(const ScenarioLight& light, IZtStimulationDevice* device,
                              QString* detail) {
    IZtDeviceDMD* dmd = DmdOf(device);
    if (!dmd) {
        *detail = kNoDmdInterface;
        return kExitFailed;
    }
    ZT_DWORD lightId = 0;
    ZT_DWORD switcherId = 0;
    ZT_DWORD port = 0;
    ZT_DWORD shutterCount = 0;
    dmd->GetAssociatedLightId(&lightId);
    dmd->GetAssociatedSwitcherId(&switcherId);
    dmd->GetAssociatedSwitcherPort(&port);
    dmd->GetAssociatedShutterCount(&shutterCount);
    std::vector<ZT_DWORD> shutterIds(shutterCount);
    for (ZT_DWORD i = 0; i < shutterCount; ++i) {
        dmd->GetAssociatedShutterId(static_cast<int>(i), &shutterIds[i]);
    }
    dmd->Release();

    // The ids the device reports must be the scenario's devices in the host's device manager.
    QStringList wrong;
    auto keyOf = [](ZT_DWORD id, int type) {
        zthost::LogicalDeviceSetup setup;
        return zthost::FindLogicalDevice(id, &setup) && setup.type == type ? setup.key
                                                                           : std::wstring();
    };
    if (keyOf(lightId, light.multiLaser ? ZT_LOGDEV_MULTILASER : ZT_LOGDEV_LIGHT) != light.source) {
        wrong << QStringLiteral("light id %1").arg(lightId);
    }
    if (keyOf(switcherId, ZT_LOGDEV_LASEROUTPUT) != light.switcher ||
        (!light.switcher.empty() && port != static_cast<ZT_DWORD>(light.switcherPort))) {
        wrong << QStringLiteral("switcher id %1 port %2").arg(switcherId).arg(port);
    }
    bool shuttersRight = shutterIds.size() == light.shutters.size();
    for (size_t i = 0; shuttersRight && i < shutterIds.size(); ++i) {
        shuttersRight = keyOf(shutterIds[i], ZT_LOGDEV_SHUTTER) == light.shutters[i];
    }
    if (!shuttersRight) {
        wrong << QStringLiteral("%1 shutters").arg(shutterCount);
    }
    // The group settings as the pad shows them.
    IZtLaserPowerControl* power = device->GetLaserPowerControl();
    for (int g = 0; g < 3 && power; ++g) {
        for (int l = 0; l < static_cast<int>(light.groups[g].size()); ++l) {
            const ScenarioLine& line = light.groups[g][l];
            if (std::abs(power->GetLinePower(l, g) - line.power) > 1e-9 ||
                power->GetLineUsed(l, g) != line.used) {
                wrong << QStringLiteral("%1 line %2").arg(GroupsText(1u << g)).arg(l + 1);
            }
        }
    }
    if (!wrong.isEmpty()) {
        *detail = "the device is associated otherwise: " + wrong.join(", ");
        return kExitFailed;
    }
    QStringList ids;
    for (ZT_DWORD id : shutterIds) {
        ids << QString::number(id);
    }
    *detail = QStringLiteral("light %1 (%2), %3, shutters %4; group settings as stored")
                  .arg(lightId)
                  .arg(QString::fromStdWString(zthost::DeviceStateText(lightId)))
                  .arg(switcherId == 0
                           ? QStringLiteral("no switcher")
                           : QStringLiteral("switcher %1 at port %2").arg(switcherId).arg(port))
                  .arg(ids.isEmpty() ? QStringLiteral("none") : ids.join(", "));
    return kExitDone;
}
