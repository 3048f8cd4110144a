// The plug-in shell: exported entry points, module objects and host-event routing.
#include "cztpluginverove.h"

#include <dlfcn.h>

#include <algorithm>
#include <cstring>
#include <cwchar>
#include <new>
#include <string>
#include <vector>

#include "cztref.h"
#include "cztstimulationdeviceverove.h"
#include "cztveroveaggregator.h"
#include "cztverovedriver.h"
#include "cztverovepadqt.h"
#include "cztverovepatternorganizer.h"
#include "cztveroveproxy.h"
#include "verove_log.h"
#include "zt/zt_export.h"
#include "zt/zt_grabber.h"
#include "zt/zt_string.h"

namespace {

constexpr const wchar_t* kDeviceClass = L"CZtStimulationDeviceVerove";
constexpr const wchar_t* kDeviceClassSim = L"CZtStimulationDeviceVeroveSim";
constexpr const char* kDeviceClassA = "CZtStimulationDeviceVerove";
constexpr const char* kDeviceClassSimA = "CZtStimulationDeviceVeroveSim";

const wchar_t* DeviceClass(bool simulator) {
    return simulator ? kDeviceClassSim : kDeviceClass;
}

// The events the module registers for at start-up, in registration order.
constexpr const wchar_t* kModuleEvents[] = {
    L"ZT_MODULEEVENT_DM_AFTER_REFRESH",     L"InitSwLifeDeviceOnStartup",
    L"ZT_MODULEEVENT_ND_EXPERIMENT_START",  L"ZT_MODULEEVENT_ND_EXPERIMENT_END",
    L"ZT_MODULEEVENT_CAMERA_NEW_PARAMS",    L"ZT_MODULEEVENT_DEVICE_BEFORE_CHANGED",
    L"ZT_MODULEEVENT_GRABBER_AFTER_SELECT",
};

// Removes and releases a registered aggregator; the manager is updated in every case.
void DropAggregatorAndUpdate(IZtStimulationDeviceManager* manager, bool simulator) {
    SZtVerovePluginState& state = VerovePluginState();
    if (state.aggregator) {
        manager->StaticDeviceRemove(simulator ? "CZtVeroveAggregatorSim" : "CZtVeroveAggregator");
        manager->Update();
        // The devices hold the aggregator while they are aggregated: letting them go first is
        // what lets the last reference destroy it.
        if (const auto aggregator = CZtRef<IZtStimulationDeviceAggregator>::Adopt(
                static_cast<IZtStimulationDeviceAggregator*>(
                    state.aggregator->QueryInterface("IZtStimulationDeviceAggregator")))) {
            aggregator->ReleaseDevices();
        }
        state.aggregator->Release();
        state.aggregator = nullptr;
    } else {
        manager->Update();
    }
}

// A camera of the active grabber that lost its region makes the DMD stop matching the camera
// region, unless the driver is the one changing it right now.
void SyncRegionlessCameras(CZtStimulationDeviceVerove* device, const SZtCameraNewParams* cameras,
                           int count) {
    IZtHostContext* context = VerovePluginState().hostContext;
    IZtGrabberProvider* grabber = context ? context->GetGrabberProvider() : nullptr;
    int active = 0;
    if (!cameras || !grabber || grabber->SecGrabber_GetActive(&active) != 0) {
        return;
    }
    for (int i = 0; i < count; ++i) {
        const SZtRect& region = cameras[i].region;
        CZtVeroveDriver* driver = device->GetDriver();
        if (cameras[i].grabber == active &&
            (region.left == region.right || region.top == region.bottom) && driver &&
            !driver->IsSyncingCameraROI()) {
            driver->SyncCameraROI(false);
        }
    }
}

CZtStimulationDeviceVerove* AsVeroveDevice(IZtStimulationDevice* device) {
    return dynamic_cast<CZtStimulationDeviceVerove*>(device);
}

bool ConnectDevice(IZtStimulationDeviceManager* manager, bool simulator, std::uint32_t brand,
                   const wchar_t* guiName, wchar_t* uniqueName, bool* hwConflict) {
    SZtVerovePluginState& state = VerovePluginState();
    const std::wstring libraryPath = VeroveLibraryPath();
    VEROVE_LOG("Connect", L"Request to connect.");
    if (state.connectedInstances > 0) {
        VEROVE_LOG("Connect", L"It is forbidden to create multiple instances.");
        return false;
    }

    const int index = VeroveFirstFreeIndex(manager, DeviceClass(simulator));
    const char* className = simulator ? kDeviceClassSimA : kDeviceClassA;
    auto* created = static_cast<IZtStimulationDevice*>(
        CZtRTTI::CreateAndQuery(className, "IZtStimulationDevice"));
    CZtStimulationDeviceVerove* device = AsVeroveDevice(created);
    if (!device) {
        VEROVE_LOG("Connect", L"Could not create device %hs.", className);
        if (created) {
            created->Release();
        }
        return false;
    }
    CZtStringW name;
    name.Format(L"%hs_%i", className, index);
    device->SetUniqueName(name);
    device->SetGUIElementName(guiName ? guiName : L"");

    int count = 0;
    if (simulator) {
        count = 1;
    } else {
        CZtVeroveProxy& proxy = CZtVeroveProxy::Instance();
        if (proxy.InitialiseLibrary(true) != 0 || proxy.GetDeviceCount(&count) != 0) {
            count = 0;
        }
    }

    bool connected = false;
    if (count >= 1) {
        VEROVE_LOG("Connect", L"There are %i devices to enumerate.", count);
        for (int i = 0; i < count; ++i) {
            if (device->Connect(true, brand, i)) {
                connected = true;
                ++state.connectedInstances;
                VEROVE_LOG("Connect", L"Connected to device No: %i", i);
                break;
            }
            if (hwConflict && device->GetGalvoConflict()) {
                *hwConflict = true;
            }
        }
    }
    if (!simulator) {
        // The device's own driver holds its own reference on the SDK library.
        CZtVeroveProxy::Instance().FinaliseLibrary();
    }
    if (!connected) {
        VEROVE_LOG("Connect", L"Could not connect to any of %i devices.", count < 0 ? 0 : count);
        device->Release();
        return false;
    }

    SZtStimulationDeviceRecord record;
    record.typeName = L"Unknown";
    record.libraryPath = libraryPath;
    record.uniqueName = name;
    record.device = device;
    manager->StaticDeviceAdd(record);
    // The creation reference stays with the plug-in until the device is disconnected.
    if (uniqueName) {
        std::wcsncpy(uniqueName, name.GetString(), ZT_MAX_PATH - 1);
        uniqueName[ZT_MAX_PATH - 1] = L'\0';
    }
    DropAggregatorAndUpdate(manager, simulator);
    return true;
}

bool DisconnectDevice(IZtStimulationDeviceManager* manager, bool simulator, std::uint32_t brand,
                      const wchar_t* uniqueName) {
    SZtVerovePluginState& state = VerovePluginState();
    VEROVE_LOG("Connect", L"Request to disconnect.");
    if (state.aggregator) {
        DropAggregatorAndUpdate(manager, simulator);
    }
    CZtStringW name(uniqueName);
    if (!uniqueName) {
        name.Format(L"%s_0", DeviceClass(simulator));
        VEROVE_LOG("Connect", L"Device unique name not given, defaulting to %s.", name.GetString());
    }
    CZtStimulationDeviceVerove* device = VeroveFindDevice(manager, name);
    if (!device) {
        VEROVE_LOG("Connect", L"GetStaticDevice(%s) failed.", name.GetString());
        return false;
    }
    device->Connect(false, brand, -1);
    const std::string ansiName = VeroveAnsiName(device->GetUniqueName().Str());
    manager->StaticDeviceRemove(ansiName.c_str());
    manager->Update();
    VEROVE_LOG("Connect", L"Device %s removed from static devices.", name.GetString());
    device->Release();
    --state.connectedInstances;
    DropAggregatorAndUpdate(manager, simulator);
    return true;
}

// A device registered under "<class>_0" of the chosen kind, or null.
CZtStimulationDeviceVerove* FirstDevice(bool simulator) {
    IZtStimulationDeviceManager* manager = CZtStimulationDeviceManager::GetInstance();
    if (!manager) {
        return nullptr;
    }
    CZtStringW name;
    name.Format(L"%s_0", DeviceClass(simulator));
    return VeroveFindDevice(manager, name);
}

}  // namespace

// The library's own file path, as the host's device record wants it.
std::wstring VeroveLibraryPath() {
    Dl_info info{};
    if (dladdr(reinterpret_cast<void*>(&VerovePluginState), &info) == 0 || !info.dli_fname) {
        return {};
    }
    std::wstring path = CZtStringW::FromUtf8(info.dli_fname).Str();
    if (path.size() >= static_cast<size_t>(ZT_MAX_PATH)) {
        path.resize(ZT_MAX_PATH - 1);
    }
    return path;
}

// The unique name in the ANSI code page: at most 64 bytes, characters outside it become '?'
// rather than a best-fit look-alike that could name another device.
std::string VeroveAnsiName(const std::wstring& name) {
    std::string ansi;
    for (wchar_t c : name) {
        if (ansi.size() == 63) {
            break;
        }
        ansi.push_back(c >= 0 && c < 0x80 ? static_cast<char>(c) : '?');
    }
    return ansi;
}

SZtVerovePluginState& VerovePluginState() {
    static SZtVerovePluginState state;
    return state;
}

CZtStimulationDeviceVerove* VeroveFindDevice(IZtStimulationDeviceManager* manager,
                                             const wchar_t* uniqueName) {
    if (!manager || !uniqueName) {
        return nullptr;
    }
    return AsVeroveDevice(manager->GetStaticDevice(uniqueName));
}

int VeroveFirstFreeIndex(IZtStimulationDeviceManager* manager, const wchar_t* className) {
    std::vector<int> used;
    const int count = manager->GetDeviceCount();
    for (int i = 0; i < count; ++i) {
        SZtStimulationDeviceRecord info;
        if (manager->GetDeviceInfo(i, &info) != 0) {
            continue;
        }
        const std::wstring& name = info.uniqueName.Str();
        const size_t underscore = name.rfind(L'_');
        if (underscore == std::wstring::npos || name.compare(0, underscore, className) != 0) {
            continue;
        }
        const std::wstring digits = name.substr(underscore + 1);
        if (digits.empty() || !std::all_of(digits.begin(), digits.end(), iswdigit)) {
            continue;
        }
        used.push_back(static_cast<int>(std::wcstol(digits.c_str(), nullptr, 10)));
    }
    std::sort(used.begin(), used.end());
    int index = 0;
    while (index < static_cast<int>(used.size()) && used[index] == index) {
        ++index;
    }
    return index;
}

// ---- CZtModuleVerove ------------------------------------------------------------------------

void* CZtModuleVerove::QueryInterface(const char* interfaceName) {
    if (interfaceName && std::strcmp(interfaceName, "IZtModuleQ9") == 0) {
        AddRef();
        return static_cast<IZtModuleQ9*>(this);
    }
    return nullptr;
}

int CZtModuleVerove::SetHostContext(IZtHostContext* hostContext) {
    SZtVerovePluginState& state = VerovePluginState();
    state.hostContext = hostContext;
    state.moduleInstance = this;
    return 0;
}

int CZtModuleVerove::RegisterModuleEvents() {
    IZtHostContext* context = VerovePluginState().hostContext;
    IZtPluginManager* plugins = context ? context->GetPluginManager() : nullptr;
    if (!plugins) {
        return 4;
    }
    for (const wchar_t* event : kModuleEvents) {
        if (plugins->RegisterModuleEvent(event, this, -1) != 0) {
            return 4;
        }
    }
    return 0;
}

void CZtModuleVerove::RouteEvent(CZtStimulationDeviceVerove* device, const wchar_t* eventName,
                                 std::intptr_t param, bool* handled, void* list,
                                 bool simulatorModule) {
    const std::wstring_view event(eventName);
    if (event == L"ZT_MODULEEVENT_DM_AFTER_REFRESH") {
        device->HandleDMRefresh();
    } else if (event == L"ZT_MODULEEVENT_GRABBER_AFTER_SELECT") {
        device->HandleCameraNewParams(param == 1);
    } else if (event == L"ZT_MODULEEVENT_DEVICE_BEFORE_CHANGED") {
        device->HandleDeviceChanged(static_cast<const std::uint32_t*>(list),
                                    static_cast<int>(param));
    } else if (event == L"InitSwLifeDeviceOnStartup") {
        device->InitializeDeviceState();
        device->LoadSettings();
    } else if (event == L"ZT_MODULEEVENT_ND_EXPERIMENT_START" && !simulatorModule) {
        device->OnNDExperiment(0);
    } else if (event == L"ZT_MODULEEVENT_ND_EXPERIMENT_END" && !simulatorModule) {
        device->OnNDExperiment(1);
    } else if (event == L"ZT_MODULEEVENT_CAMERA_NEW_PARAMS") {
        SyncRegionlessCameras(device, static_cast<const SZtCameraNewParams*>(list),
                              static_cast<int>(param));
        device->HandleCameraNewParams(false);
    } else if (event == L"ZT_MODULEEVENT_PLUGIN_PROCESS_DRAGDROP") {
        CZtVerovePadQt* pad = device->GetPad();
        CZtVerovePatternOrganizer::DeliverDrop(
            pad ? qobject_cast<CZtVerovePatternOrganizer*>(pad->PatternDialog()) : nullptr,
            reinterpret_cast<HDROP>(param));
        if (handled) {
            *handled = true;
        }
    }
}

void CZtModuleVerove::RouteToDevices(const wchar_t* eventName, std::intptr_t param, bool* handled,
                                     void* list, bool simulatorModule) {
    IZtHostContext* context = VerovePluginState().hostContext;
    IZtStimulationDeviceManager* manager =
        context ? context->GetStimulationDeviceManager() : nullptr;
    if (!manager || !eventName) {
        return;
    }
    // The real module falls back to the simulator's name for each number; the walk ends at the
    // first number with no device.
    for (int n = 0;; ++n) {
        CZtStimulationDeviceVerove* device = nullptr;
        CZtStringW name;
        if (!simulatorModule) {
            name.Format(L"CZtStimulationDeviceVerove_%i", n);
            device = VeroveFindDevice(manager, name);
        }
        if (!device) {
            name.Format(L"CZtStimulationDeviceVeroveSim_%i", n);
            device = VeroveFindDevice(manager, name);
        }
        if (!device) {
            break;
        }
        RouteEvent(device, eventName, param, handled, list, simulatorModule);
    }
}

int CZtModuleVerove::OnModuleEvent(const wchar_t* eventName, std::intptr_t param, bool* handled,
                                   void* list) {
    RouteToDevices(eventName, param, handled, list, false);
    return 0;
}

int CZtModuleVeroveSim::OnModuleEvent(const wchar_t* eventName, std::intptr_t param, bool* handled,
                                      void* list) {
    RouteToDevices(eventName, param, handled, list, true);
    return 0;
}

// ---- Exports --------------------------------------------------------------------------------

ZT_PLUGIN_EXPORT bool Connect(bool connect, bool simulator, std::uint32_t brand,
                              const wchar_t* guiName, wchar_t* uniqueName, bool* hwConflict) {
    IZtStimulationDeviceManager* manager = CZtStimulationDeviceManager::GetInstance();
    if (!manager) {
        VEROVE_LOG("Connect", L"Could not get instance of Stimulation Device Manager.");
        return false;
    }
    return connect ? ConnectDevice(manager, simulator, brand, guiName, uniqueName, hwConflict)
                   : DisconnectDevice(manager, simulator, brand, uniqueName);
}

ZT_PLUGIN_EXPORT IZtInterface* ZT_ConstructorForCZtModuleVerove(const char* file, int line) {
    IZtModuleQ9* module = new CZtModuleVerove();
    return module;
}

ZT_PLUGIN_EXPORT IZtInterface* ZT_ConstructorForCZtModuleVeroveSim(const char* file, int line) {
    IZtModuleQ9* module = new CZtModuleVeroveSim();
    return module;
}

ZT_PLUGIN_EXPORT IZtInterface* ZT_ConstructorForCZtStimulationDeviceVerove(const char* file,
                                                                           int line) {
    IZtStimulationDevice* device = new (std::nothrow) CZtStimulationDeviceVerove();
    return device;
}

ZT_PLUGIN_EXPORT IZtInterface* ZT_ConstructorForCZtStimulationDeviceVeroveSim(const char* file,
                                                                              int line) {
    IZtStimulationDevice* device = new (std::nothrow) CZtStimulationDeviceVeroveSim();
    return device;
}

ZT_PLUGIN_EXPORT IZtInterface* ZT_ConstructorForCZtVeroveAggregator(const char* file, int line) {
    IZtStimulationDevice* aggregator = new (std::nothrow) CZtVeroveAggregator();
    return aggregator;
}

ZT_PLUGIN_EXPORT bool GetAssociatedDeviceInfo(std::uint32_t* lightId, std::uint32_t* switcherId,
                                              std::uint32_t* switcherPort, bool simulator) {
    CZtStimulationDeviceVerove* device = FirstDevice(simulator);
    return device && device->GetAssociatedDeviceInfo(lightId, switcherId, switcherPort) == 0;
}

ZT_PLUGIN_EXPORT bool OnPortActivated(std::uint8_t a, std::uint8_t b, bool simulator) {
    CZtStimulationDeviceVerove* device = FirstDevice(simulator);
    return device && device->OnPortActivated(a != 0, b != 0);
}

ZT_PLUGIN_EXPORT bool SetTraxPort(std::uint32_t portA, std::uint32_t portB, bool simulator) {
    CZtStimulationDeviceVerove* device = FirstDevice(simulator);
    return device && device->SetTraxPort(portA, portB) == 0;
}

ZT_PLUGIN_EXPORT int QueryDMDInterface(const wchar_t* uniqueName, void** out) {
    if (!uniqueName || !out) {
        return -4;
    }
    CZtStimulationDeviceVerove* device =
        VeroveFindDevice(CZtStimulationDeviceManager::GetInstance(), uniqueName);
    if (device) {
        *out = device->QueryInterface("IZtDeviceDMD");
    }
    return *out ? 0 : -5;
}

ZT_PLUGIN_EXPORT int ShowStimulationDeviceConfigDialog(QWidget* parent, bool simulator,
                                                       const wchar_t* uniqueName) {
    CZtStimulationDeviceVerove* device =
        uniqueName ? VeroveFindDevice(CZtStimulationDeviceManager::GetInstance(), uniqueName)
                   : FirstDevice(simulator);
    if (!device) {
        return -13;
    }
    return device->ShowConfigurationDialog(parent);
}

ZT_PLUGIN_EXPORT int ShowStimulationDeviceConfigDialog2(QWidget* parent, bool simulator,
                                                        std::uint32_t index) {
    CZtStringW name;
    name.Format(L"%s_%i", DeviceClass(simulator), index);
    CZtStimulationDeviceVerove* device =
        VeroveFindDevice(CZtStimulationDeviceManager::GetInstance(), name);
    if (!device) {
        VEROVE_LOG("ShowStimulationDeviceConfigDialog2",
                   L"device %s not found in stim. dev. manager.", name.GetString());
        return -13;
    }
    VEROVE_LOG("ShowStimulationDeviceConfigDialog2", L"Showing config dialog of device %s.",
               name.GetString());
    return device->ShowConfigurationDialog(parent);
}
