// SDK proxy: argument checks, trace lines, the simulated unit, the library check and the SDK
// traffic it sends through fake_atcore.
#include <gtest/gtest.h>

#include <QTemporaryDir>
#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>
#include <regex>
#include <string>
#include <vector>

#include "cztveroveproxy.h"
#include "fake_atcore_control.h"
#include "zt/zt_util.h"
#include "zthost/zthost.h"

namespace {

constexpr int kSim = CZtVeroveProxy::SimulatorIndex;

CZtVeroveProxy& Proxy() {
    return CZtVeroveProxy::Instance();
}

// The captured host log line of a plug-in message.
std::wstring Line(const std::wstring& function, const std::wstring& message) {
    return L"Verove " + function + L": " + message;
}

bool HasLine(const std::wstring& line) {
    const std::vector<std::wstring> log = zthost::CapturedLog();
    return std::find(log.begin(), log.end(), line) != log.end();
}

bool HasLineMatching(const std::wstring& pattern) {
    const std::wregex expression(pattern);
    for (const std::wstring& line : zthost::CapturedLog()) {
        if (std::regex_match(line, expression)) {
            return true;
        }
    }
    return false;
}

std::wstring LogText() {
    std::wstring text;
    for (const std::wstring& line : zthost::CapturedLog()) {
        text += line + L"\n";
    }
    return text;
}

// What the event callback saw.
struct SEvent {
    int handle = 0;
    std::wstring feature;
};

std::vector<SEvent>& Events() {
    static std::vector<SEvent> events;
    return events;
}

void RecordEvent(int handle, const wchar_t* feature) {
    Events().push_back({handle, feature});
}

void Touch(const std::filesystem::path& path) {
    std::ofstream(path) << "not a library";
}

// Each test starts with an empty search path (no SDK), a clear log and no events. Tests that
// use the simulated unit open it with OpenSimulator; it is closed with its features put back.
class VeroveProxy : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(m_dir.isValid());
        m_path = std::filesystem::path(m_dir.path().toStdString());
        zthost::SetDetailLogging(false);
        zthost::SetSearchFolders({m_path.wstring()});
        zthost::ClearCapturedLog();
        Events().clear();
    }
    void TearDown() override {
        zthost::SetDetailLogging(false);
        if (m_handle == kSim) {
            Proxy().SetFeatureCallback(m_handle, nullptr);
            Proxy().Abort(m_handle);
            Proxy().SetTriggerMode(m_handle, L"InternalExpose");
            Proxy().SetExposureTime(m_handle, 0.0);
            EXPECT_EQ(Proxy().Close(m_handle), 0);
        }
        EXPECT_EQ(zthost::NamedReferenceCount(L"ANDOR_ATCORE_DLL"), 0) << "library left in use";
    }

    void OpenSimulator() {
        ASSERT_EQ(Proxy().Open(kSim, &m_handle), 0);
        ASSERT_EQ(m_handle, kSim);
        zthost::ClearCapturedLog();
    }

    // A library installed under its full version behind the plain name, as the SDK does.
    void InstallVersioned(const char* name, const char* version) {
        const std::string full = std::string(name) + "." + version;
        Touch(m_path / full);
        std::filesystem::create_symlink(full, m_path / name);
    }

    // The fake SDK, reset, first on the search path.
    void UseFakeSdk() {
        fake_atcore::Reset();
        zthost::PrependSearchFolder(CZtStringW::FromUtf8(VEROVE_FAKE_SDK_DIR).Str());
    }

    int m_handle = 0;
    QTemporaryDir m_dir;  // the search folder
    std::filesystem::path m_path;
};

// ---- Argument checks --------------------------------------------------------------------------

TEST_F(VeroveProxy, HandlesBelowOneAreRefusedWithoutTrace) {
    zthost::SetDetailLogging(true);
    CZtVeroveProxy& proxy = Proxy();
    for (const int handle : {0, -1, -123456789}) {
        bool flag = false;
        int number = 0;
        double real = 0.0;
        CZtStringW text;
        unsigned char buffer[4] = {};
        EXPECT_EQ(proxy.GetBool(handle, L"IsExposing", &flag), -7);
        EXPECT_EQ(proxy.SetBool(handle, L"InvertMode", true), -7);
        EXPECT_EQ(proxy.GetInt32(handle, L"SensorWidth", &number), -7);
        EXPECT_EQ(proxy.SetInt32(handle, L"FrameIndex", 1), -7);
        EXPECT_EQ(proxy.GetFloat(handle, L"ExposureTime", &real), -7);
        EXPECT_EQ(proxy.GetFloatMin(handle, L"ExposureTime", &real), -7);
        EXPECT_EQ(proxy.GetFloatMax(handle, L"ExposureTime", &real), -7);
        EXPECT_EQ(proxy.SetFloat(handle, L"ExposureTime", 1.0), -7);
        EXPECT_EQ(proxy.GetEnumIndex(handle, L"TriggerMode", &number), -7);
        EXPECT_EQ(proxy.SetEnumString(handle, L"TriggerMode", L"InternalExpose"), -7);
        EXPECT_EQ(proxy.GetString(handle, L"SerialNumber", &text), -7);
        EXPECT_EQ(proxy.Command(handle, L"Expose"), -7);
        EXPECT_EQ(proxy.SetBuffer(handle, buffer, 4), -7);
        EXPECT_EQ(proxy.GetSensorSize(handle, &number, &number), -7);
        EXPECT_EQ(proxy.GetImageSizeBytes(handle, &number), -7);
        EXPECT_EQ(proxy.IsVerove3(handle, &number), -7);
        EXPECT_EQ(proxy.GetSerialNumber(handle, &text), -7);
        EXPECT_EQ(proxy.SetFeatureCallback(handle, RecordEvent), -7);
        EXPECT_EQ(proxy.Close(handle), -7);
    }
    EXPECT_TRUE(zthost::CapturedLog().empty()) << LogText();
}

TEST_F(VeroveProxy, SimulatorMissingOutputsAndNamesAreRefused) {
    OpenSimulator();
    zthost::SetDetailLogging(true);
    zthost::ClearCapturedLog();
    int number = 0;
    CZtStringW text;
    EXPECT_EQ(Proxy().GetBool(m_handle, L"IsExposing", nullptr), -6);
    EXPECT_EQ(Proxy().GetInt32(m_handle, L"SensorWidth", nullptr), -6);
    EXPECT_EQ(Proxy().GetFloat(m_handle, L"ExposureTime", nullptr), -6);
    EXPECT_EQ(Proxy().GetEnumIndex(m_handle, L"TriggerMode", nullptr), -6);
    EXPECT_EQ(Proxy().GetString(m_handle, L"SerialNumber", nullptr), -6);
    EXPECT_EQ(Proxy().GetSensorSize(m_handle, &number, nullptr), -6);
    EXPECT_EQ(Proxy().GetImageSizeBytes(m_handle, nullptr), -6);
    EXPECT_EQ(Proxy().IsVerove3(m_handle, nullptr), -6);
    EXPECT_EQ(Proxy().SetBuffer(m_handle, nullptr, 10), -6);
    EXPECT_EQ(Proxy().Open(kSim, nullptr), -6);
    EXPECT_EQ(Proxy().GetSDKVersion(nullptr), -6);
    EXPECT_EQ(Proxy().GetInt32(m_handle, nullptr, &number), -4);
    EXPECT_EQ(Proxy().SetEnumString(m_handle, L"TriggerMode", nullptr), -4);
    EXPECT_TRUE(zthost::CapturedLog().empty()) << LogText();
}

// ---- Simulated unit ---------------------------------------------------------------------------

TEST_F(VeroveProxy, SimulatorAnswersFromItsTablesAndInventsAbsentFeatures) {
    OpenSimulator();
    int width = 0, height = 0, size = 0, verove = 0;
    ASSERT_EQ(Proxy().GetSensorSize(m_handle, &width, &height), 0);
    ASSERT_EQ(Proxy().GetImageSizeBytes(m_handle, &size), 0);
    ASSERT_EQ(Proxy().IsVerove3(m_handle, &verove), 0);
    EXPECT_EQ(std::vector<int>({width, height, size, verove}),
              std::vector<int>({800, 600, 480000, 1}));
    double minimum = 0.0, maximum = 0.0;
    ASSERT_EQ(Proxy().GetFloatMin(m_handle, L"ExposureTime", &minimum), 0);
    ASSERT_EQ(Proxy().GetFloatMax(m_handle, L"AnythingAtAll", &maximum), 0);
    EXPECT_EQ(minimum, 0.05);
    EXPECT_EQ(maximum, 0.05);

    // Absent features answer with a default; feature names are case-sensitive.
    bool flag = false;
    ASSERT_EQ(Proxy().GetBool(m_handle, L"isexposing", &flag), 0);
    EXPECT_TRUE(flag);
    CZtStringW text;
    ASSERT_EQ(Proxy().GetControllerFirmwareVersion(m_handle, &text), 0);
    EXPECT_EQ(text, L"SimulatorString");
    int number = -1;
    ASSERT_EQ(Proxy().GetEnumIndex(m_handle, L"NoSuchEnum", &number), 0);
    EXPECT_EQ(number, 0);
}

TEST_F(VeroveProxy, SimulatorReportsUnusableSizes) {
    OpenSimulator();
    ASSERT_EQ(Proxy().SetInt32(m_handle, L"ImageSizeBytes", 0), 0);
    int size = 77;
    EXPECT_EQ(Proxy().GetImageSizeBytes(m_handle, &size), -1);
    EXPECT_EQ(size, 77) << "the output is written only on success";
    ASSERT_EQ(Proxy().SetInt32(m_handle, L"ImageSizeBytes", 480000), 0);

    ASSERT_EQ(Proxy().SetInt32(m_handle, L"SensorWidth", -3), 0);
    int width = 0, height = 0;
    EXPECT_EQ(Proxy().GetSensorSize(m_handle, &width, &height), -1);
    ASSERT_EQ(Proxy().SetInt32(m_handle, L"SensorWidth", 800), 0);
}

TEST_F(VeroveProxy, CallbackForwardsToTheEventSlot) {
    OpenSimulator();
    zthost::SetDetailLogging(true);
    ASSERT_EQ(Proxy().SetFeatureCallback(kSim, nullptr), 0);
    EXPECT_EQ(CZtVeroveProxy::Callback(42, L"IsExposing", nullptr), 0);
    EXPECT_TRUE(Events().empty());

    // The simulated handle only sets the slot; the last setter wins.
    zthost::ClearCapturedLog();
    ASSERT_EQ(Proxy().SetFeatureCallback(kSim, RecordEvent), 0);
    EXPECT_EQ(CZtVeroveProxy::Callback(42, L"IsExposing", nullptr), 0);
    const std::vector<SEvent> events = Events();
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].handle, 42);
    EXPECT_EQ(events[0].feature, L"IsExposing");
}

// ---- Library check and version ---------------------------------------------------------------

bool Check(bool bitflowRequired, std::int64_t minimum, const wchar_t* requirement) {
    return CZtVeroveProxy::AndorDLLCheck(bitflowRequired, minimum, requirement, true, "Tag");
}

std::int64_t Version(int major, int minor, int build, int revision) {
    return (std::int64_t{major} << 48) | (std::int64_t{minor} << 32) | (std::int64_t{build} << 16) |
           revision;
}

// The library check: the SDK library, then the BitFlow libraries and the shim's version against
// the minimum. Each message the user reads names what to install.
TEST_F(VeroveProxy, DllCheckNamesWhatIsMissingOrTooOld) {
    struct SCase {
        int libraries;     // 0: none, 1: the SDK, 2: the SDK and BitFlow
        const char* shim;  // the shim's version in its file name; null: no shim
        bool bitflowRequired;
        std::int64_t minimum;
        const wchar_t* requirement;
        bool passes;
        std::wstring line;  // a captured line containing this; "{shim}" is the shim's path
    };
    const std::vector<SCase> cases = {
        {0, nullptr, false, 0, nullptr, false, L"Tag:: libatcore.so not found"},
        {1, nullptr, false, Version(5, 7, 0, 0), nullptr, true,
         L"Tag:: libatcl_bitflow.so not found"},
        {1, nullptr, true, 0, nullptr, false, L""},
        {2, nullptr, false, 0, nullptr, false,
         L"Tag:: libatcl_bitflow.so found, but libAndorBitflowShim.so not found"},
        {2, nullptr, false, 0, nullptr, false,
         L"The driver requires Bitflow SDK.\r\nNo BitFlow found. Please download it from http"},
        {2, nullptr, false, 0, L"Pack 1", false,
         L"The driver requires Pack 1.\r\nNo BitFlow found."},
        {2, "5.10.0.0", false, Version(5, 7, 0, 0), L"Pack 2", true,
         L"Tag:: {shim} version 5.10.0.0 found"},
        {2, "5.10.0.0", false, Version(5, 10, 0, 0), L"Pack 2", true, L""},
        {2, "5.10.0.0", false, Version(5, 10, 0, 1), L"Pack 2", false,
         L"Old BitFlow SDK found. The driver requires Pack 2.\r\n Please download new SDK from "
         L"http"},
        {2, "5.10.0.0", false, Version(6, 0, 0, 0), nullptr, false,
         L"Old BitFlow SDK found.\r\n Please download new SDK from http"},
        {2, "5.7", false, 0, nullptr, true, L"Tag:: {shim} version <unknown> found"},
        {2, "5.7", false, Version(0, 0, 0, 1), nullptr, false, L""},
    };
    int row = 0;
    for (const SCase& c : cases) {
        SCOPED_TRACE(row);
        const std::filesystem::path folder = m_path / std::to_string(row++);
        std::filesystem::create_directory(folder);
        zthost::SetSearchFolders({folder.wstring()});
        zthost::ClearCapturedLog();
        const char* const libraries[] = {"libatcore.so", "libatcl_bitflow.so"};
        for (int i = 0; i < c.libraries; ++i) {
            Touch(folder / libraries[i]);
        }
        const std::filesystem::path shim = folder / "libAndorBitflowShim.so";
        if (c.shim) {
            Touch(folder / (shim.filename().string() + "." + c.shim));
            std::filesystem::create_symlink(shim.filename().string() + "." + c.shim, shim);
        }
        EXPECT_EQ(Check(c.bitflowRequired, c.minimum, c.requirement), c.passes);
        std::wstring line = c.line;
        const std::size_t at = line.find(L"{shim}");
        if (at != std::wstring::npos) {
            line.replace(at, 6, shim.wstring());
        }
        EXPECT_TRUE(zthost::LogContains(line)) << LogText();
    }
    // Without a report the check is quiet.
    zthost::SetSearchFolders({m_path.wstring()});
    zthost::ClearCapturedLog();
    EXPECT_FALSE(CZtVeroveProxy::AndorDLLCheck(false, 0, nullptr, false));
    EXPECT_TRUE(zthost::CapturedLog().empty()) << LogText();
}

TEST_F(VeroveProxy, InitialiseLibraryFailsForAnOldShim) {
    Touch(m_path / "libatcore.so");
    Touch(m_path / "libatcl_bitflow.so");
    InstallVersioned("libAndorBitflowShim.so", "5.6.65535.65535");
    zthost::SetDetailLogging(false);
    EXPECT_EQ(Proxy().InitialiseLibrary(true), -1);
    EXPECT_TRUE(
        zthost::LogContains(L"Old BitFlow SDK found. The driver requires Andor Driver Pack "
                            L"3.8.30007.0 (BitFlow SDK 5.7.0.0).\r\n"));
    EXPECT_EQ(zthost::NamedReferenceCount(L"ANDOR_ATCORE_DLL"), 0);
    zthost::ClearCapturedLog();
    EXPECT_EQ(Proxy().InitialiseLibrary(false), -1);
    EXPECT_FALSE(zthost::LogContains(L"BitFlow")) << "without report the check stays silent";
}

TEST_F(VeroveProxy, SdkVersionComesFromTheVersionedFileName) {
    CZtStringW version = L"stale";
    EXPECT_EQ(Proxy().GetSDKVersion(&version), 0);
    EXPECT_EQ(version, L"") << "no library";

    InstallVersioned("libatcore.so", "3.15.30092.2");
    EXPECT_EQ(Proxy().GetSDKVersion(&version), 0);
    EXPECT_EQ(version, L"3.15.30092.2");

    QTemporaryDir other;
    zthost::SetSearchFolders({other.path().toStdWString()});
    for (const char* name : {"libatcore.so.3", "libatcore.so.3.15.x.2", "libatcore.so.1.2.3.4.5",
                             "libatcore.so.1.70000.0.0"}) {
        const std::filesystem::path folder(other.path().toStdString());
        std::filesystem::remove(folder / "libatcore.so");
        Touch(folder / name);
        std::filesystem::create_symlink(name, folder / "libatcore.so");
        EXPECT_EQ(Proxy().GetSDKVersion(&version), 0);
        EXPECT_EQ(version, L"") << name;
    }
}

// ---- SDK traffic through fake_atcore -----------------------------------------------------------

std::vector<std::string> Functions(const std::vector<fake_atcore::CallRecord>& calls) {
    std::vector<std::string> names;
    for (const fake_atcore::CallRecord& call : calls) {
        names.push_back(call.function);
    }
    return names;
}

int CountCalls(const std::string& function) {
    const std::vector<std::string> names = Functions(fake_atcore::Calls());
    return static_cast<int>(std::count(names.begin(), names.end(), function));
}

// Every way Open can fail leaves no handle and holds neither the index nor the library; the trace
// line carries the device error code.
TEST_F(VeroveProxy, FailedOpenHoldsNothingAndTracesTheCode) {
    struct SCase {
        const char* name;
        std::function<void()> fault;  // null: no SDK on the search path
        int code;
        std::vector<std::string> calls;
    };
    const std::vector<SCase> cases = {
        {"no SDK", nullptr, 3, {}},
        {"system handle",
         [] { fake_atcore::SetOpenReturnsSystemHandle(true); },
         0,
         {"AT_InitialiseLibrary", "AT_Open", "AT_FinaliseLibrary"}},
        {"device not found",
         [] { fake_atcore::InjectError("AT_Open", AT_ERR_DEVICENOTFOUND); },
         39,
         {"AT_InitialiseLibrary", "AT_Open", "AT_FinaliseLibrary"}},
        {"initialise fails",
         [] { fake_atcore::InjectError("AT_InitialiseLibrary", AT_ERR_CONNECTION); },
         3,
         {"AT_InitialiseLibrary"}},
    };
    for (const SCase& c : cases) {
        SCOPED_TRACE(c.name);
        zthost::SetSearchFolders({m_path.wstring()});
        zthost::ClearCapturedLog();
        if (c.fault) {
            UseFakeSdk();
            c.fault();
        }
        int handle = 0;
        EXPECT_EQ(Proxy().Open(0, &handle), -1);
        EXPECT_EQ(handle, 0);
        EXPECT_TRUE(HasLineMatching(
            L"Verove CZtVeroveProxy::Open: Error: CZtVeroveProxy::Open\\(0\\) - end, execution "
            L"time \\d+ ms, device error code " +
            std::to_wstring(c.code) + L" \\(Could not get a valid handle\\)"))
            << LogText();
        EXPECT_EQ(zthost::NamedReferenceCount(L"ANDOR_ATCORE_DLL_DEV_0"), 0);
        EXPECT_EQ(zthost::NamedReferenceCount(L"ANDOR_ATCORE_DLL"), 0);
        if (c.fault) {
            EXPECT_EQ(Functions(fake_atcore::Calls()), c.calls);
            EXPECT_FALSE(fake_atcore::IsInitialised());
        }
    }
    fake_atcore::Reset();
}

TEST_F(VeroveProxy, LibraryInitialisationIsReferenceCounted) {
    UseFakeSdk();
    ASSERT_EQ(Proxy().InitialiseLibrary(false), 0);
    ASSERT_EQ(Proxy().InitialiseLibrary(true), 0);
    EXPECT_EQ(Functions(fake_atcore::Calls()), std::vector<std::string>{"AT_InitialiseLibrary"});
    EXPECT_EQ(zthost::NamedReferenceCount(L"ANDOR_ATCORE_DLL"), 1);

    EXPECT_EQ(Proxy().FinaliseLibrary(), 0);
    EXPECT_TRUE(fake_atcore::IsInitialised()) << "one user is left";
    EXPECT_EQ(CountCalls("AT_FinaliseLibrary"), 0);
    EXPECT_EQ(Proxy().FinaliseLibrary(), 0);
    EXPECT_FALSE(fake_atcore::IsInitialised());
    EXPECT_EQ(CountCalls("AT_FinaliseLibrary"), 1);
    EXPECT_EQ(zthost::NamedReferenceCount(L"ANDOR_ATCORE_DLL"), 0);
    EXPECT_EQ(Proxy().FinaliseLibrary(), 0) << "an unmatched finalise does nothing";
    EXPECT_EQ(CountCalls("AT_FinaliseLibrary"), 1);
}

TEST_F(VeroveProxy, LibrarySharedWithAnotherComponent) {
    UseFakeSdk();
    // A camera driver of the host initialised the SDK first and still uses it.
    ASSERT_EQ(CZtNamedReference::AddRef(L"ANDOR_ATCORE_DLL"), 1);
    ASSERT_EQ(AT_InitialiseLibrary(), AT_SUCCESS);
    fake_atcore::ClearCalls();
    ASSERT_EQ(Proxy().InitialiseLibrary(false), 0);
    EXPECT_EQ(zthost::NamedReferenceCount(L"ANDOR_ATCORE_DLL"), 2);
    EXPECT_EQ(Proxy().FinaliseLibrary(), 0);
    EXPECT_TRUE(fake_atcore::Calls().empty()) << "the proxy neither initialises nor finalises";
    EXPECT_TRUE(fake_atcore::IsInitialised());

    // The proxy initialises first; the camera driver joins and is the last to leave.
    ASSERT_EQ(CZtNamedReference::Release(L"ANDOR_ATCORE_DLL"), 0);
    ASSERT_EQ(AT_FinaliseLibrary(), AT_SUCCESS);
    fake_atcore::ClearCalls();
    ASSERT_EQ(Proxy().InitialiseLibrary(false), 0);
    ASSERT_EQ(CZtNamedReference::AddRef(L"ANDOR_ATCORE_DLL"), 2);
    EXPECT_EQ(Proxy().FinaliseLibrary(), 0);
    EXPECT_EQ(Functions(fake_atcore::Calls()), std::vector<std::string>{"AT_InitialiseLibrary"});
    EXPECT_TRUE(fake_atcore::IsInitialised());
    ASSERT_EQ(CZtNamedReference::Release(L"ANDOR_ATCORE_DLL"), 0);
    ASSERT_EQ(AT_FinaliseLibrary(), AT_SUCCESS);
}

TEST_F(VeroveProxy, OpenAndCloseHoldTheLibraryAndTheIndex) {
    UseFakeSdk();
    int handle = 0;
    ASSERT_EQ(Proxy().Open(0, &handle), 0);
    EXPECT_EQ(handle, 100);
    EXPECT_EQ(zthost::NamedReferenceCount(L"ANDOR_ATCORE_DLL"), 1);
    EXPECT_EQ(zthost::NamedReferenceCount(L"ANDOR_ATCORE_DLL_DEV_0"), 1);
    std::vector<fake_atcore::CallRecord> calls = fake_atcore::Calls();
    ASSERT_EQ(Functions(calls), (std::vector<std::string>{"AT_InitialiseLibrary", "AT_Open"}));
    EXPECT_EQ(calls[1].value, L"0");
    fake_atcore::ClearCalls();

    EXPECT_EQ(Proxy().Close(handle), 0);
    calls = fake_atcore::Calls();
    ASSERT_EQ(Functions(calls), (std::vector<std::string>{"AT_Close", "AT_FinaliseLibrary"}));
    EXPECT_EQ(calls[0].handle, 100);
    EXPECT_EQ(zthost::NamedReferenceCount(L"ANDOR_ATCORE_DLL_DEV_0"), 0);
}

TEST_F(VeroveProxy, OpenOfAnIndexInUseIsBusy) {
    UseFakeSdk();
    int first = 0;
    ASSERT_EQ(Proxy().Open(0, &first), 0);
    int second = -99;
    EXPECT_EQ(Proxy().Open(0, &second), -10);
    EXPECT_EQ(second, -99);
    EXPECT_TRUE(
        HasLine(Line(L"CZtVeroveProxy::Open",
                     L"CZtVeroveProxy::Open(0) - device is busy. It is probably a camera.")));
    EXPECT_FALSE(zthost::LogContains(L"Could not get a valid handle"));
    EXPECT_EQ(CountCalls("AT_Open"), 1);
    EXPECT_EQ(zthost::NamedReferenceCount(L"ANDOR_ATCORE_DLL_DEV_0"), 1);
    EXPECT_EQ(Proxy().Close(first), 0);

    // A camera driver of the host holds index 0: the SDK is not even asked.
    ASSERT_EQ(CZtNamedReference::AddRef(L"ANDOR_ATCORE_DLL_DEV_0"), 1);
    fake_atcore::ClearCalls();
    EXPECT_EQ(Proxy().Open(0, &second), -10);
    EXPECT_EQ(Functions(fake_atcore::Calls()),
              (std::vector<std::string>{"AT_InitialiseLibrary", "AT_FinaliseLibrary"}));
    EXPECT_EQ(CZtNamedReference::Release(L"ANDOR_ATCORE_DLL_DEV_0"), 0);
}

TEST_F(VeroveProxy, SdkExceptionsNeverLeaveTheProxy) {
    UseFakeSdk();
    fake_atcore::InjectException("AT_InitialiseLibrary");
    EXPECT_EQ(Proxy().InitialiseLibrary(false), -1);
    EXPECT_EQ(zthost::NamedReferenceCount(L"ANDOR_ATCORE_DLL"), 0);
    // The failed attempt left nothing behind: the next one asks the SDK again.
    ASSERT_EQ(Proxy().InitialiseLibrary(false), 0);
    EXPECT_EQ(CountCalls("AT_InitialiseLibrary"), 2);

    int handle = 0;
    ASSERT_EQ(Proxy().Open(0, &handle), 0);
    fake_atcore::InjectException("AT_Close");
    EXPECT_EQ(Proxy().Close(handle), 0);
    EXPECT_EQ(zthost::NamedReferenceCount(L"ANDOR_ATCORE_DLL_DEV_0"), 0);

    fake_atcore::InjectException("AT_FinaliseLibrary");
    EXPECT_EQ(Proxy().FinaliseLibrary(), -1);
    EXPECT_EQ(zthost::NamedReferenceCount(L"ANDOR_ATCORE_DLL"), 0);
}

TEST_F(VeroveProxy, CloseCleansUpWhenTheSdkRefuses) {
    UseFakeSdk();
    int handle = 0;
    ASSERT_EQ(Proxy().Open(0, &handle), 0);
    fake_atcore::InjectError("AT_Close", AT_ERR_INVALIDHANDLE);
    EXPECT_EQ(Proxy().Close(handle), 0);
    EXPECT_EQ(zthost::NamedReferenceCount(L"ANDOR_ATCORE_DLL_DEV_0"), 0);
    EXPECT_FALSE(fake_atcore::IsInitialised());

    // Nothing of the old handle is left: it is no longer closed with the SDK, and the index opens.
    fake_atcore::ClearCalls();
    EXPECT_EQ(Proxy().Close(handle), 0);
    EXPECT_TRUE(fake_atcore::Calls().empty());
    ASSERT_EQ(Proxy().Open(0, &handle), 0);
    EXPECT_EQ(Proxy().Close(handle), 0);
}

}  // namespace
