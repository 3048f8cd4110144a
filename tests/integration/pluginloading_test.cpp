// The plug-in as the host loads it: the shared library, its class records, its exports resolved
// by name, and a first connect through them.
#include <gtest/gtest.h>

#include <QLibrary>
#include <algorithm>
#include <string>

#include "fake_atcore_control.h"
#include "zt/zt_dmd.h"
#include "zt/zt_module.h"
#include "zt/zt_stimulation.h"
#include "zt/zt_util.h"
#include "zthost/microscope.h"
#include "zthost/zthost.h"

namespace {

const std::wstring kPluginPath =
    QStringLiteral(VEROVE_BIN_DIR "/q9_plugin_verove.so").toStdWString();

using ConnectFn = bool (*)(bool, bool, std::uint32_t, const wchar_t*, wchar_t*, bool*);
using QueryDMDInterfaceFn = int (*)(const wchar_t*, void**);

class PluginLoading : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        if (library) {
            return;  // loaded once per process, as the host does; the suites share it
        }
        std::wstring error;
        registered = zthost::LoadPluginLibrary(kPluginPath, &error);
        ASSERT_GT(registered, 0) << std::string(error.begin(), error.end());
        library = new QLibrary(QString::fromStdWString(kPluginPath));
        ASSERT_TRUE(library->load()) << library->errorString().toStdString();
    }
    void SetUp() override {
        zthost::ClearCapturedLog();
        zthost::SetSearchFolders({});
    }

    template <class Fn>
    static Fn Resolve(const char* name) {
        return reinterpret_cast<Fn>(library->resolve(name));
    }

    static inline int registered = 0;
    static inline QLibrary* library = nullptr;  // stays loaded, as in the host
};

TEST_F(PluginLoading, RegistersItsClassesFromTheLibraryRecords) {
    EXPECT_EQ(registered, 5);
    SZtClassRecord record;
    ASSERT_TRUE(zthost::FindClassRecord(L"CZtModuleVerove", &record));
    EXPECT_EQ(record.friendlyName, L"Q9 Verove Module");
    EXPECT_EQ(record.version, 5);
    EXPECT_EQ(record.priority, L"01.00.00.00");
    EXPECT_EQ(record.parents, std::vector<std::wstring>{L"IZtModuleQ9"});
    ASSERT_TRUE(zthost::FindClassRecord(L"CZtStimulationDeviceVerove", &record));
    EXPECT_EQ(record.friendlyName, L"DMD Stimulation device");
    EXPECT_EQ(record.parents,
              (std::vector<std::wstring>{L"IZtStimulationDevice", L"IZtStimulationDeviceEx"}));
    EXPECT_TRUE(zthost::FindClassRecord(L"CZtVeroveAggregator", &record));
    // The translations are handed to the host at load.
    const std::vector<std::string> modules = zthost::TranslationModules();
    EXPECT_NE(std::find(modules.begin(), modules.end(), "q9_plugin_verove"), modules.end());
}

TEST_F(PluginLoading, ExportsEveryEntryPointByName) {
    for (const char* name :
         {"Connect", "GetAssociatedDeviceInfo", "OnPortActivated", "QueryDMDInterface",
          "SetTraxPort", "ShowStimulationDeviceConfigDialog", "ShowStimulationDeviceConfigDialog2",
          "ZT_ConstructorForCZtModuleVerove", "ZT_ConstructorForCZtModuleVeroveSim",
          "ZT_ConstructorForCZtStimulationDeviceVerove",
          "ZT_ConstructorForCZtStimulationDeviceVeroveSim",
          "ZT_ConstructorForCZtVeroveAggregator"}) {
        EXPECT_NE(library->resolve(name), nullptr) << name;
    }
    // Nothing of the plug-in's own classes leaks out of the library.
    EXPECT_EQ(library->resolve("_ZN14CZtVeroveProxy8InstanceEv"), nullptr);
}

TEST_F(PluginLoading, ModulesAreCreatedByClassNameAndRegisterForTheirEvents) {
    for (const char* className : {"CZtModuleVerove", "CZtModuleVeroveSim"}) {
        auto* module = static_cast<IZtModuleQ9*>(CZtRTTI::CreateAndQuery(className, "IZtModuleQ9"));
        ASSERT_NE(module, nullptr) << className;
        EXPECT_EQ(module->QueryInterface("IZtStimulationDevice"), nullptr);
        EXPECT_EQ(module->SetHostContext(zthost::HostContext()), 0);
        EXPECT_EQ(module->RegisterModuleEvents(), 0);
        bool handled = false;
        EXPECT_EQ(zthost::PluginManager()->SendModuleEvent(L"InitSwLifeDeviceOnStartup", 0,
                                                           &handled, nullptr),
                  1);
        for (const wchar_t* event :
             {L"ZT_MODULEEVENT_DM_AFTER_REFRESH", L"InitSwLifeDeviceOnStartup",
              L"ZT_MODULEEVENT_ND_EXPERIMENT_START", L"ZT_MODULEEVENT_ND_EXPERIMENT_END",
              L"ZT_MODULEEVENT_CAMERA_NEW_PARAMS", L"ZT_MODULEEVENT_DEVICE_BEFORE_CHANGED",
              L"ZT_MODULEEVENT_GRABBER_AFTER_SELECT"}) {
            EXPECT_EQ(zthost::PluginManager()->UnregisterModuleEvent(event, module), 0);
        }
        module->Release();
    }
}

// A connect through the exports, with the module holding the host context as in the host.
class PluginConnect : public PluginLoading {
protected:
    void SetUp() override {
        PluginLoading::SetUp();
        fake_atcore::Reset();
        module =
            static_cast<IZtModuleQ9*>(CZtRTTI::CreateAndQuery("CZtModuleVerove", "IZtModuleQ9"));
        ASSERT_NE(module, nullptr);
        module->SetHostContext(zthost::HostContext());
        connect = Resolve<ConnectFn>("Connect");
        ASSERT_NE(connect, nullptr);
    }
    void TearDown() override {
        if (module) {
            module->Release();
        }
    }

    IZtModuleQ9* module = nullptr;
    ConnectFn connect = nullptr;
};

TEST_F(PluginConnect, ConnectsTheSimulatorAndAnswersItsDmdInterface) {
    wchar_t name[ZT_MAX_PATH] = L"";
    bool conflict = false;
    ASSERT_TRUE(connect(true, true, 0, L"Verove", name, &conflict));
    EXPECT_STREQ(name, L"CZtStimulationDeviceVeroveSim_0");
    EXPECT_FALSE(conflict);
    IZtStimulationDeviceManager* manager = CZtStimulationDeviceManager::GetInstance();
    IZtStimulationDevice* device = manager->GetStaticDevice(name);
    ASSERT_NE(device, nullptr);
    EXPECT_TRUE(device->IsConnected());
    CZtStringW displayName;
    device->GetDisplayName(&displayName, 0);
    EXPECT_EQ(displayName, L"Andor Verove 3 Simulator");  // brand 0: the Andor names

    void* out = nullptr;
    ASSERT_EQ(Resolve<QueryDMDInterfaceFn>("QueryDMDInterface")(name, &out), 0);
    auto* dmd = static_cast<IZtDeviceDMD*>(out);
    EXPECT_STREQ(dmd->GetInterfaceName(), L"IDeviceDMD_V2");
    ZT_DWORD patterns = 0;
    EXPECT_EQ(dmd->GetPatternCount(&patterns), 0);
    EXPECT_EQ(patterns, 6u);
    dmd->Release();

    ASSERT_TRUE(connect(false, true, 0, L"", name, nullptr));
    EXPECT_EQ(manager->GetDeviceCount(), 0);
}

TEST_F(PluginConnect, ConnectsTheSdkDeviceOverTheFakeLibraryAndClosesIt) {
    zthost::SetSearchFolders({QString(VEROVE_FAKE_SDK_DIR).toStdWString()});
    wchar_t name[ZT_MAX_PATH] = L"";
    ASSERT_TRUE(connect(true, false, 1, L"Verove", name, nullptr));
    EXPECT_STREQ(name, L"CZtStimulationDeviceVerove_0");
    EXPECT_EQ(fake_atcore::OpenDeviceCount(), 1);
    EXPECT_TRUE(fake_atcore::ShownFrame().exposing);
    IZtStimulationDevice* device =
        CZtStimulationDeviceManager::GetInstance()->GetStaticDevice(name);
    ASSERT_NE(device, nullptr);
    CZtStringW displayName;
    device->GetDisplayName(&displayName, 0);
    EXPECT_EQ(displayName, L"Velmar DMD");

    ASSERT_TRUE(connect(false, false, 1, nullptr, nullptr, nullptr));  // device _0 by default
    EXPECT_EQ(fake_atcore::OpenDeviceCount(), 0);
    EXPECT_FALSE(fake_atcore::IsInitialised());
    EXPECT_EQ(CZtStimulationDeviceManager::GetInstance()->GetDeviceCount(), 0);
}

}  // namespace
