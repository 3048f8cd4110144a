// Reading the devices of a scenario file and the light path's association with them.
#include "scenariodevices.h"

#include "zt/zt_devices.h"

namespace scenariofields {

namespace {

const QStringList kGroupNames = {"S1", "S2", "S3"};
// A light's voltage or iris range.
constexpr double kMaxLightLevel = 10000.0;

const zthost::LogicalDeviceSetup* FindDevice(const ScenarioDevices& devices, int type,
                                             const std::wstring& key) {
    for (const zthost::LogicalDeviceSetup& device : devices.logical) {
        if (device.type == type && device.key == key) {
            return &device;
        }
    }
    return nullptr;
}

// A device's key: the host finds a device by type and key, so two of a kind must differ.
std::wstring DeviceKey(Problems& p, const QJsonObject& object, const QString& path, int type,
                       const ScenarioDevices& devices) {
    const std::wstring key = String(p, object.value("key"), Field(path, "key"));
    if (p.Ok() && FindDevice(devices, type, key)) {
        p.Fail(Field(path, "key"),
               QStringLiteral("\"%1\" is the key of an earlier device of this kind")
                   .arg(QString::fromStdWString(key)));
    }
    return key;
}

void AddDevice(ScenarioDevices* devices, zthost::LogicalDeviceSetup device) {
    device.id = static_cast<ZT_DWORD>(devices->logical.size() + 1);
    device.physicalId = device.id;
    devices->logical.push_back(device);
}

// Nosepieces, filter changers and laser outputs: named positions and the one standing now.
void ReadPositions(Problems& p, const QJsonObject& object, const QString& path,
                   const char* namesKey, const char* positionKey,
                   zthost::LogicalDeviceSetup* device) {
    device->positionNames = Strings(p, object.value(namesKey), Field(path, namesKey));
    const int last = static_cast<int>(device->positionNames.size()) - 1;
    device->position = object.contains(positionKey)
                           ? static_cast<int>(Integer(p, object.value(positionKey),
                                                      Field(path, positionKey), 0, last))
                           : 0;
}

// Every entry of one device kind's list: an object with a key and the kind's fields, which read
// fills into a device of the kind's type.
template <class Read>
void ReadDeviceList(Problems& p, const QJsonObject& object, const char* kind, int type,
                    const QStringList& fields, ScenarioDevices* devices, Read read) {
    if (!object.contains(kind)) {
        return;
    }
    const QString path = Field("devices", kind);
    const QJsonArray array = Array(p, object.value(kind), path);
    for (int i = 0; i < array.size() && p.Ok(); ++i) {
        const QString item = Item(path, i);
        const QJsonObject entry = Object(p, array[i], item, QStringList{"key"} + fields);
        zthost::LogicalDeviceSetup device;
        device.type = type;
        device.key = DeviceKey(p, entry, item, type, *devices);
        read(entry, item, &device);
        AddDevice(devices, device);
    }
}

void ReadLaunchLines(Problems& p, const QJsonObject& entry, const QString& item,
                     zthost::LogicalDeviceSetup* launch) {
    launch->capabilities = {ZT_LOGDEV_CAP_LIGHT_INTENSITY, ZT_LOGDEV_CAP_LIGHT_ONOFF};
    const QJsonArray lines = Array(p, entry.value("lines"), Field(item, "lines"), 1);
    for (int l = 0; l < lines.size() && p.Ok(); ++l) {
        const QString lineItem = Item(Field(item, "lines"), l);
        const QJsonObject line = Object(p, lines[l], lineItem, {"wavelength", "power", "used"});
        zthost::LaserLineSetup setup;
        setup.wavelength = static_cast<ZT_DWORD>(
            Integer(p, line.value("wavelength"), Field(lineItem, "wavelength"), 200, 2000));
        if (line.contains("power")) {
            setup.power = Real(p, line.value("power"), Field(lineItem, "power"), 0.0, 100.0);
        }
        if (line.contains("used")) {
            setup.used = Boolean(p, line.value("used"), Field(lineItem, "used"));
        }
        launch->lines.push_back(setup);
    }
}

void ReadLightControl(Problems& p, const QJsonObject& entry, const QString& item,
                      zthost::LogicalDeviceSetup* light) {
    const int control =
        Choice(p, entry.value("control"), Field(item, "control"), {"voltage", "iris", "none"});
    if (control == 2) {
        for (const char* key : {"minimum", "maximum", "steps", "value"}) {
            if (entry.contains(key)) {
                p.Fail(Field(item, key),
                       QStringLiteral("a light without control has no %1").arg(key));
            }
        }
        light->capabilities = {ZT_LOGDEV_CAP_LIGHT_ONOFF};
        return;
    }
    light->lightControl = control == 0 ? zthost::LightControl::Voltage : zthost::LightControl::Iris;
    light->minimum = Real(p, entry.value("minimum"), Field(item, "minimum"), 0.0, kMaxLightLevel);
    light->maximum =
        Real(p, entry.value("maximum"), Field(item, "maximum"), light->minimum, kMaxLightLevel);
    light->stepCount =
        static_cast<int>(Integer(p, entry.value("steps"), Field(item, "steps"), 1, 10000));
    light->value =
        Real(p, entry.value("value"), Field(item, "value"), light->minimum, light->maximum);
    light->capabilities = {ZT_LOGDEV_CAP_LIGHT_INTENSITY, ZT_LOGDEV_CAP_LIGHT_ONOFF};
}

}  // namespace

void ReadDevices(Problems& p, const QJsonValue& value, ScenarioDevices* devices) {
    const QString path = "devices";
    const QJsonObject object = Object(p, value, path,
                                      {"nosepieces", "filterChangers", "laserLaunches", "lights",
                                       "shutters", "laserSwitchers", "trax", "galvoXY"},
                                      "unknown device kind");
    using Entry = const QJsonObject&;
    using Device = zthost::LogicalDeviceSetup*;
    ReadDeviceList(p, object, "nosepieces", ZT_LOGDEV_NOSEPIECE, {"objectives", "position"},
                   devices, [&](Entry entry, const QString& item, Device nosepiece) {
                       ReadPositions(p, entry, item, "objectives", "position", nosepiece);
                   });
    ReadDeviceList(p, object, "filterChangers", ZT_LOGDEV_FILTERCHANGER, {"filters", "position"},
                   devices, [&](Entry entry, const QString& item, Device changer) {
                       ReadPositions(p, entry, item, "filters", "position", changer);
                   });
    ReadDeviceList(p, object, "laserLaunches", ZT_LOGDEV_MULTILASER, {"lines"}, devices,
                   [&](Entry entry, const QString& item, Device launch) {
                       ReadLaunchLines(p, entry, item, launch);
                   });
    ReadDeviceList(p, object, "lights", ZT_LOGDEV_LIGHT,
                   {"control", "minimum", "maximum", "steps", "value"}, devices,
                   [&](Entry entry, const QString& item, Device light) {
                       ReadLightControl(p, entry, item, light);
                   });
    ReadDeviceList(p, object, "shutters", ZT_LOGDEV_SHUTTER, {"open"}, devices,
                   [&](Entry entry, const QString& item, Device shutter) {
                       if (entry.contains("open")) {
                           shutter->open = Boolean(p, entry.value("open"), Field(item, "open"));
                       }
                   });
    ReadDeviceList(
        p, object, "laserSwitchers", ZT_LOGDEV_LASEROUTPUT, {"ports", "port", "fixed"}, devices,
        [&](Entry entry, const QString& item, Device output) {
            ReadPositions(p, entry, item, "ports", "port", output);
            if (entry.contains("fixed") && Boolean(p, entry.value("fixed"), Field(item, "fixed"))) {
                output->capabilities = {ZT_LOGDEV_CAP_LASEROUTPUT_FIXED};
            }
        });

    if (object.contains("trax")) {
        const QString item = Field(path, "trax");
        const QJsonObject trax = Object(p, object.value("trax"), item, {"portA", "portB"});
        devices->traxSet = true;
        devices->traxPortA = static_cast<std::uint32_t>(
            Integer(p, trax.value("portA"), Field(item, "portA"), 0, 0xFFFFFFFFLL));
        devices->traxPortB = static_cast<std::uint32_t>(
            Integer(p, trax.value("portB"), Field(item, "portB"), 0, 0xFFFFFFFFLL));
    }
    if (object.contains("galvoXY")) {
        devices->galvoXYCount =
            static_cast<int>(Integer(p, object.value("galvoXY"), Field(path, "galvoXY"), 0, 8));
    }
}

void ReadLight(Problems& p, const QJsonValue& value, const ScenarioDevices& devices,
               ScenarioLight* light) {
    const QString path = "light";
    const QJsonObject object =
        Object(p, value, path, {"source", "switcher", "switcherPort", "shutters", "groups"});
    light->source = String(p, object.value("source"), Field(path, "source"));
    const zthost::LogicalDeviceSetup* source =
        FindDevice(devices, ZT_LOGDEV_MULTILASER, light->source);
    light->multiLaser = source != nullptr;
    if (!source) {
        source = FindDevice(devices, ZT_LOGDEV_LIGHT, light->source);
    }
    if (p.Ok() && !source) {
        p.Fail(Field(path, "source"), QStringLiteral("no laser launch or light has the key \"%1\"")
                                          .arg(QString::fromStdWString(light->source)));
    }
    light->sourceId = source ? source->id : 0;

    if (object.contains("switcher")) {
        light->switcher = String(p, object.value("switcher"), Field(path, "switcher"));
        const zthost::LogicalDeviceSetup* switcher =
            FindDevice(devices, ZT_LOGDEV_LASEROUTPUT, light->switcher);
        if (p.Ok() && !switcher) {
            p.Fail(Field(path, "switcher"), QStringLiteral("no laser switcher has the key \"%1\"")
                                                .arg(QString::fromStdWString(light->switcher)));
        }
        light->switcherId = switcher ? switcher->id : 0;
        if (switcher && object.contains("switcherPort")) {
            light->switcherPort = static_cast<int>(
                Integer(p, object.value("switcherPort"), Field(path, "switcherPort"), 0,
                        static_cast<long long>(switcher->positionNames.size()) - 1));
        }
    } else if (object.contains("switcherPort")) {
        p.Fail(Field(path, "switcherPort"), "given without light.switcher");
    }

    if (object.contains("shutters")) {
        const QString shuttersPath = Field(path, "shutters");
        light->shutters = Strings(p, object.value("shutters"), shuttersPath);
        for (int i = 0; i < static_cast<int>(light->shutters.size()) && p.Ok(); ++i) {
            if (!FindDevice(devices, ZT_LOGDEV_SHUTTER, light->shutters[i])) {
                p.Fail(Item(shuttersPath, i),
                       QStringLiteral("no shutter has the key \"%1\"")
                           .arg(QString::fromStdWString(light->shutters[i])));
            }
        }
    }

    if (!object.contains("groups") || !source) {
        return;
    }
    const QString groupsPath = Field(path, "groups");
    const QJsonObject groups = Object(p, object.value("groups"), groupsPath, kGroupNames);
    const int lineCount = light->multiLaser ? static_cast<int>(source->lines.size()) : 1;
    // A single light's power is its voltage or iris value.
    const bool percent = light->multiLaser || source->lightControl == zthost::LightControl::None;
    const double lowest = percent ? 0.0 : source->minimum;
    const double highest = percent ? 100.0 : source->maximum;
    for (int g = 0; g < 3 && p.Ok(); ++g) {
        if (!groups.contains(kGroupNames[g])) {
            continue;
        }
        const QString groupPath = Field(groupsPath, kGroupNames[g]);
        const QJsonArray lines = Array(p, groups.value(kGroupNames[g]), groupPath);
        if (p.Ok() && lines.size() != lineCount) {
            p.Fail(groupPath, QStringLiteral("expected %1 entries, one per line of \"%2\"")
                                  .arg(lineCount)
                                  .arg(QString::fromStdWString(light->source)));
        }
        for (int l = 0; l < lines.size() && p.Ok(); ++l) {
            const QString item = Item(groupPath, l);
            const QJsonObject entry = Object(p, lines[l], item, {"power", "used"});
            ScenarioLine line;
            line.power = Real(p, entry.value("power"), Field(item, "power"), lowest, highest);
            line.used = Boolean(p, entry.value("used"), Field(item, "used"));
            light->groups[g].push_back(line);
        }
    }
}

}  // namespace scenariofields
