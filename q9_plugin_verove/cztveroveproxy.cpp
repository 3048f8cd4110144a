// The plug-in's only gateway to the vendor SDK (atcore), with a built-in simulated unit.
#include "cztveroveproxy.h"

#include <optional>
#include <thread>

#include "verove_fileversion.h"
#include "verove_log.h"
#include "verovestatus.h"
#include "zt/zt_log.h"
#include "zt/zt_util.h"

namespace {

#if defined(_WIN32)
constexpr const wchar_t* kAtcoreLibrary = L"atcore.dll";
constexpr const wchar_t* kBitflowLibrary = L"atcl_bitflow.dll";
constexpr const wchar_t* kBitflowShim = L"AndorBitflowShim.dll";
#else
constexpr const wchar_t* kAtcoreLibrary = L"libatcore.so";
constexpr const wchar_t* kBitflowLibrary = L"libatcl_bitflow.so";
constexpr const wchar_t* kBitflowShim = L"libAndorBitflowShim.so";
#endif
constexpr const wchar_t* kDownloadPage = L"https://www.andor.com/downloads/";

// 5.7.0.0, packed like a version resource: major.minor in the high, build.revision in the low half.
constexpr std::int64_t kMinimumShimVersion = (5LL << 48) | (7LL << 32);

// The process-wide event callback slot; the last setter wins.
std::atomic<ZtVeroveEventCallback> g_eventCallback{nullptr};

// The SDK's callbacks reach the slot only while the proxy exists; its destructor waits for the
// ones under way, so that none uses the instance while it goes.
std::atomic<bool> g_callbacksOpen{true};
std::atomic<int> g_callbacksUnderWay{0};

void FireEvent(int handle, const wchar_t* feature) {
    if (const ZtVeroveEventCallback callback = g_eventCallback.load()) {
        try {
            callback(handle, feature);
        } catch (...) {
            VEROVE_LOG("CZtVeroveProxy::FireEvent",
                       L"Error: the event callback threw an exception");
        }
    }
}

// The checks every typed access makes before it takes the handle's lock.
int CheckCall(int handle, const wchar_t* feature) {
    if (handle < 1) {
        return VeroveStatus::kInvalidHandle;
    }
    return feature ? 0 : VeroveStatus::kInvalidArgument;
}

int CheckCall(int handle, const wchar_t* feature, const void* output) {
    if (handle < 1) {
        return VeroveStatus::kInvalidHandle;
    }
    if (!output) {
        return VeroveStatus::kNullOutput;
    }
    return feature ? 0 : VeroveStatus::kInvalidArgument;
}

template <typename SdkCall>
int CallSdk(const char* function, const char* sdkFunction, SdkCall sdk) {
    try {
        return sdk();
    } catch (...) {
        VEROVE_LOG(function, L"Error: %hs() threw an exception", sdkFunction);
        return VeroveStatus::kFailed;
    }
}

}  // namespace

CZtVeroveProxy& CZtVeroveProxy::Instance() {
    static CZtVeroveProxy instance;
    return instance;
}

CZtVeroveProxy::CZtVeroveProxy() : m_simulator(SimulatorIndex, m_handleLocks, &FireEvent) {}

CZtVeroveProxy::~CZtVeroveProxy() {
    g_callbacksOpen = false;
    while (g_callbacksUnderWay.load() > 0) {
        std::this_thread::yield();
    }
    // The simulator, destroyed first of the members, stops and joins its thread.
}

template <typename SdkCall, typename SimCall>
int CZtVeroveProxy::Access(CZtVeroveCallTrace& trace, int handle, const char* sdkFunction,
                           SdkCall sdk, SimCall sim, bool quiet) {
    int code = AT_SUCCESS;
    {
        const std::shared_ptr<void> lock = m_handleLocks.Lock(handle);
        if (!lock) {
            // Closed: nothing reaches the SDK or the simulated unit any more.
            VEROVE_LOG_DETAIL(trace.Function(), L"CZtVeroveProxy: handle %d is closed", handle);
            return VeroveStatus::kFailed;
        }
        if (IsSimulated(handle)) {
            sim();
        } else {
            code = CallSdk(trace.Function(), sdkFunction, sdk);
        }
    }
    if (code != AT_SUCCESS) {
        if (!quiet) {
            trace.SetDeviceError(code);
        }
        return VeroveStatus::kFailed;
    }
    return 0;
}

// ---- Library and device ---------------------------------------------------------------------

int CZtVeroveProxy::InitialiseLibrary(bool report) {
    static constexpr const char* kFunction = "CZtVeroveProxy::InitialiseLibrary";
    CZtVeroveCallTrace trace(kFunction, L"CZtVeroveProxy::InitialiseLibrary");
    CZtLock global(m_globalLock);
    if (m_libraryRefCount > 0) {
        ++m_libraryRefCount;
        return 0;
    }
    if (!AndorDLLCheck(false, kMinimumShimVersion,
                       L"Andor Driver Pack 3.8.30007.0 (BitFlow SDK 5.7.0.0)", report,
                       "CZtVeroveProxy")) {
        trace.SetDeviceError(-1);
        return VeroveStatus::kFailed;
    }
    if (CZtNamedReference::AddRef(L"ANDOR_ATCORE_DLL") != 1) {
        // Another component of the process has initialised the library already.
        ++m_libraryRefCount;
        return 0;
    }
    VEROVE_LOG(kFunction, L"CZtVeroveProxy::Calling AT_InitialiseLibrary()");
    const int code =
        CallSdk(kFunction, "AT_InitialiseLibrary", [] { return AT_InitialiseLibrary(); });
    if (code != AT_SUCCESS) {
        // Give the name back, or the next attempt would take the library for initialised.
        CZtNamedReference::Release(L"ANDOR_ATCORE_DLL");
        trace.SetDeviceError(code);
        return VeroveStatus::kFailed;
    }
    ++m_libraryRefCount;
    return 0;
}

int CZtVeroveProxy::FinaliseLibrary() {
    static constexpr const char* kFunction = "CZtVeroveProxy::FinaliseLibrary";
    CZtVeroveCallTrace trace(kFunction, L"CZtVeroveProxy::FinaliseLibrary");
    CZtLock global(m_globalLock);
    if (m_libraryRefCount == 0) {
        return 0;
    }
    if (--m_libraryRefCount > 0) {
        return 0;
    }
    if (CZtNamedReference::Release(L"ANDOR_ATCORE_DLL") != 0) {
        return 0;
    }
    VEROVE_LOG(kFunction, L"CZtVeroveProxy::Calling AT_FinaliseLibrary()");
    const int code = CallSdk(kFunction, "AT_FinaliseLibrary", [] { return AT_FinaliseLibrary(); });
    if (code != AT_SUCCESS) {
        trace.SetDeviceError(code);
        return VeroveStatus::kFailed;
    }
    return 0;
}

bool CZtVeroveProxy::AndorDLLCheck(bool bitflowRequired, std::int64_t minimumVersion,
                                   const wchar_t* requirementText, bool log, const char* tag) {
    static constexpr const char* kFunction = "CZtVeroveProxy::AndorDLLCheck";
    if (!tag) {
        tag = "AndorDLLCheck";
    }
    wchar_t path[ZT_MAX_PATH] = {};
    if (ZT_SearchPath(kAtcoreLibrary, path, ZT_MAX_PATH) != 0) {
        if (log) {
            VEROVE_LOG(kFunction, L"%hs:: %s not found", tag, kAtcoreLibrary);
        }
        return false;
    }
    if (ZT_SearchPath(kBitflowLibrary, path, ZT_MAX_PATH) != 0) {
        if (log) {
            VEROVE_LOG(kFunction, L"%hs:: %s not found", tag, kBitflowLibrary);
        }
        return !bitflowRequired;
    }
    if (ZT_SearchPath(kBitflowShim, path, ZT_MAX_PATH) != 0) {
        if (log) {
            VEROVE_LOG(kFunction, L"%hs:: %s found, but %s not found", tag, kBitflowLibrary,
                       kBitflowShim);
            VEROVE_LOG(
                kFunction,
                L"The driver requires %s.\r\nNo BitFlow found. Please download it from %s\r\n",
                requirementText ? requirementText : L"Bitflow SDK", kDownloadPage);
        }
        return false;
    }
    const std::optional<std::uint64_t> version = VeroveReadFileVersion(path);
    if (log) {
        if (version) {
            VEROVE_LOG(kFunction, L"%hs:: %s version %s found", tag, path,
                       VeroveFormatVersion(*version).c_str());
        } else {
            VEROVE_LOG(kFunction, L"%hs:: %s version <unknown> found", tag, path);
        }
    }
    // An unreadable version counts as 0.0.0.0: too old for any minimum.
    if (minimumVersion != 0 && minimumVersion > static_cast<std::int64_t>(version.value_or(0))) {
        if (log) {
            const std::wstring requirement =
                requirementText ? ZT_FormatW(L" The driver requires %s.", requirementText) : L"";
            VEROVE_LOG(kFunction,
                       L"Old BitFlow SDK found.%s\r\n Please download new SDK from %s\r\n",
                       requirement.c_str(), kDownloadPage);
        }
        return false;
    }
    return true;
}

int CZtVeroveProxy::Open(int deviceIndex, int* handle) {
    static constexpr const char* kFunction = "CZtVeroveProxy::Open";
    if (!handle) {
        return VeroveStatus::kNullOutput;
    }
    CZtVeroveCallTrace trace(kFunction, ZT_FormatW(L"CZtVeroveProxy::Open(%d)", deviceIndex));
    if (deviceIndex == SimulatorIndex) {
        if (!m_simulator.Start()) {
            trace.SetDeviceError(-1);
            return VeroveStatus::kFailed;
        }
        m_handleLocks.ForgetClosed(SimulatorIndex);
        m_simulatedHandle = SimulatorIndex;
        *handle = SimulatorIndex;
        return 0;
    }

    const bool initialised = InitialiseLibrary(false) == 0;
    const std::wstring deviceName = ZT_FormatW(L"ANDOR_ATCORE_DLL_DEV_%d", deviceIndex);
    bool busy = false;
    int code = 3;  // the library could not be initialised
    AT_H sdkHandle = AT_HANDLE_UNINITIALISED;
    {
        CZtLock global(m_globalLock);
        if (CZtNamedReference::AddRef(deviceName.c_str()) != 1) {
            VEROVE_LOG(kFunction,
                       L"CZtVeroveProxy::Open(%d) - device is busy. It is probably a camera.",
                       deviceIndex);
            busy = true;
        } else if (initialised) {
            code = CallSdk(kFunction, "AT_Open", [&] { return AT_Open(deviceIndex, &sdkHandle); });
        }
        // Handle 1 is the SDK's system handle, and nothing below it is a device.
        if (!busy && code == AT_SUCCESS && sdkHandle > AT_HANDLE_SYSTEM) {
            m_handleLocks.ForgetClosed(sdkHandle);
            m_handleToIndex[sdkHandle] = deviceIndex;
            *handle = sdkHandle;
            return 0;
        }
    }
    CZtNamedReference::Release(deviceName.c_str());
    // Only our own reference is given back: a failed initialisation took none.
    if (initialised) {
        FinaliseLibrary();
    }
    if (busy) {
        return VeroveStatus::kBusy;
    }
    trace.SetDeviceError(code, L" (Could not get a valid handle)");
    return VeroveStatus::kFailed;
}

int CZtVeroveProxy::Close(int handle) {
    static constexpr const char* kFunction = "CZtVeroveProxy::Close";
    if (handle < 1) {
        return VeroveStatus::kInvalidHandle;
    }
    CZtVeroveCallTrace trace(kFunction, L"CZtVeroveProxy::Close", true, handle);
    // From here on, calls on the handle fail instead of waiting for its lock: AT_Close and
    // AT_FinaliseLibrary may wait for the SDK's threads, whose callbacks call back in.
    const std::shared_ptr<CZtVeroveHandleLocks::HandleLock> section =
        m_handleLocks.BeginClosing(handle);
    if (IsSimulated(handle)) {
        // Stopped before taking the handle's lock: the simulator thread takes it itself.
        m_simulator.Stop();
        m_simulatedHandle = -1;
    }
    section->EnterToClose();
    std::optional<int> deviceIndex;
    {
        CZtLock global(m_globalLock);
        const auto entry = m_handleToIndex.find(handle);
        if (entry != m_handleToIndex.end()) {
            deviceIndex = entry->second;
        }
    }
    if (deviceIndex) {
        const int code = CallSdk(kFunction, "AT_Close", [&] { return AT_Close(handle); });
        if (code != AT_SUCCESS) {
            trace.SetDeviceError(code);
        }
        CZtNamedReference::Release(ZT_FormatW(L"ANDOR_ATCORE_DLL_DEV_%d", *deviceIndex).c_str());
        {
            CZtLock global(m_globalLock);
            m_handleToIndex.erase(handle);
        }
        FinaliseLibrary();
    }
    section->Leave();
    m_handleLocks.Erase(handle);
    return 0;
}

int CZtVeroveProxy::GetDeviceCount(int* count) {
    return GetInt32(AT_HANDLE_SYSTEM, L"DeviceCount", count);
}

int CZtVeroveProxy::IsVerove3(int handle, int* isVerove) {
    if (const int check = CheckCall(handle, L"DeviceType", isVerove)) {
        return check;
    }
    CZtStringW type;
    if (GetString(handle, L"DeviceType", &type, true) != 0) {
        return VeroveStatus::kFailed;
    }
    *isVerove = type == L"Verove III" ? 1 : 0;
    return 0;
}

int CZtVeroveProxy::GetSerialNumber(int handle, CZtStringW* text) {
    return GetString(handle, L"SerialNumber", text);
}

int CZtVeroveProxy::GetFirmwareVersion(int handle, CZtStringW* text) {
    return GetString(handle, L"FirmwareVersion", text);
}

int CZtVeroveProxy::GetControllerFirmwareVersion(int handle, CZtStringW* text) {
    return GetString(handle, L"ControllerFirmwareVersion", text);
}

int CZtVeroveProxy::GetSDKVersion(CZtStringW* text) {
    if (!text) {
        return VeroveStatus::kNullOutput;
    }
    text->Empty();
    wchar_t path[ZT_MAX_PATH] = {};
    if (ZT_SearchPath(kAtcoreLibrary, path, ZT_MAX_PATH) == 0) {
        if (const std::optional<std::uint64_t> version = VeroveReadFileVersion(path)) {
            *text = CZtStringW(VeroveFormatVersion(*version));
        }
    }
    return 0;
}

int CZtVeroveProxy::GetSensorSize(int handle, int* width, int* height) {
    if (handle < 1) {
        return VeroveStatus::kInvalidHandle;
    }
    if (!width || !height) {
        return VeroveStatus::kNullOutput;
    }
    int sensorWidth = 0;
    int sensorHeight = 0;
    if (GetInt32(handle, L"SensorWidth", &sensorWidth) != 0 ||
        GetInt32(handle, L"SensorHeight", &sensorHeight) != 0) {
        return VeroveStatus::kFailed;
    }
    if (sensorWidth < 1 || sensorHeight < 1) {
        VEROVE_LOG("CZtVeroveProxy::GetSensorSize",
                   L"CZtVeroveProxy::GetSensorSize failed: width=%d, height=%d", sensorWidth,
                   sensorHeight);
        return VeroveStatus::kFailed;
    }
    *width = sensorWidth;
    *height = sensorHeight;
    return 0;
}

int CZtVeroveProxy::GetImageSizeBytes(int handle, int* size) {
    if (const int check = CheckCall(handle, L"ImageSizeBytes", size)) {
        return check;
    }
    int bytes = 0;
    if (GetInt32(handle, L"ImageSizeBytes", &bytes) != 0) {
        return VeroveStatus::kFailed;
    }
    if (bytes <= 0) {
        VEROVE_LOG("CZtVeroveProxy::GetImageSizeBytes",
                   L"CZtVeroveProxy::GetImageSizeBytes failed: size=%d", bytes);
        return VeroveStatus::kFailed;
    }
    *size = bytes;
    return 0;
}

int CZtVeroveProxy::SetFeatureCallback(int handle, ZtVeroveEventCallback callback) {
    if (handle < 1) {
        return VeroveStatus::kInvalidHandle;
    }
    g_eventCallback = callback;
    if (IsSimulated(handle)) {
        return 0;
    }
    CZtVeroveCallTrace trace("CZtVeroveProxy::SetFeatureCallback",
                             L"CZtVeroveProxy::SetFeatureCallback::IsExposing", true, handle);
    return Access(
        trace, handle, "AT_RegisterFeatureCallback",
        [&] {
            return AT_RegisterFeatureCallback(handle, L"IsExposing", &CZtVeroveProxy::Callback,
                                              nullptr);
        },
        [] {});
}

int AT_EXP_CONV CZtVeroveProxy::Callback(AT_H handle, const AT_WC* feature, void* context) {
    static constexpr const char* kFunction = "CZtVeroveProxy::Callback";
    ++g_callbacksUnderWay;
    if (!g_callbacksOpen) {
        --g_callbacksUnderWay;
        return AT_CALLBACK_SUCCESS;  // the proxy is going: nothing may reach it
    }
    try {
        const wchar_t* name = feature ? feature : L"";
        VEROVE_LOG_DETAIL(kFunction, L"CZtVeroveProxy::Callback(%d, feature %s) - begin", handle,
                          name);
        if (const ZtVeroveEventCallback callback = g_eventCallback.load()) {
            callback(handle, name);
            VEROVE_LOG(kFunction, L"CZtVeroveProxy::Callback(%d, feature %s) - end", handle, name);
        } else {
            VEROVE_LOG(kFunction,
                       L"CZtVeroveProxy::Callback(%d, feature %s) - end; no event callback is "
                       L"registered!",
                       handle, name);
        }
    } catch (...) {
        // Nothing may be thrown back into the SDK's thread.
    }
    --g_callbacksUnderWay;
    return AT_CALLBACK_SUCCESS;
}

// ---- Typed access ---------------------------------------------------------------------------

int CZtVeroveProxy::GetBool(int handle, const wchar_t* feature, bool* value) {
    if (const int check = CheckCall(handle, feature, value)) {
        return check;
    }
    CZtVeroveCallTrace trace("CZtVeroveProxy::GetBool",
                             ZT_FormatW(L"CZtVeroveProxy::GetBool::%s", feature), true, handle);
    AT_BOOL result = AT_FALSE;
    const int status = Access(
        trace, handle, "AT_GetBool", [&] { return AT_GetBool(handle, feature, &result); },
        [&] { result = m_simulator.GetBool(feature) ? AT_TRUE : AT_FALSE; });
    if (status != 0) {
        return status;
    }
    *value = result != AT_FALSE;
    VEROVE_LOG("CZtVeroveProxy::GetBool", L"CZtVeroveProxy::GetBool(%d, %s, %d)", handle, feature,
               *value ? 1 : 0);
    return 0;
}

int CZtVeroveProxy::SetBool(int handle, const wchar_t* feature, bool value) {
    if (const int check = CheckCall(handle, feature)) {
        return check;
    }
    VEROVE_LOG("CZtVeroveProxy::SetBool", L"CZtVeroveProxy::SetBool(%d, %s, %d)", handle, feature,
               value ? 1 : 0);
    CZtVeroveCallTrace trace("CZtVeroveProxy::SetBool",
                             ZT_FormatW(L"CZtVeroveProxy::SetBool::%s", feature), true, handle);
    return Access(
        trace, handle, "AT_SetBool",
        [&] { return AT_SetBool(handle, feature, value ? AT_TRUE : AT_FALSE); },
        [&] { m_simulator.SetBool(feature, value); });
}

int CZtVeroveProxy::GetInt32(int handle, const wchar_t* feature, int* value) {
    if (const int check = CheckCall(handle, feature, value)) {
        return check;
    }
    CZtVeroveCallTrace trace("CZtVeroveProxy::GetInt32",
                             ZT_FormatW(L"CZtVeroveProxy::GetInt32::%s", feature), true, handle);
    AT_64 result = 0;
    const int status = Access(
        trace, handle, "AT_GetInt", [&] { return AT_GetInt(handle, feature, &result); },
        [&] { result = m_simulator.GetInt(feature); });
    if (status != 0) {
        return status;
    }
    *value = static_cast<int>(static_cast<std::uint32_t>(result));
    trace.SetReturned(ZT_FormatW(L"%d", *value));
    return 0;
}

int CZtVeroveProxy::SetInt32(int handle, const wchar_t* feature, int value) {
    if (const int check = CheckCall(handle, feature)) {
        return check;
    }
    CZtVeroveCallTrace trace("CZtVeroveProxy::SetInt32",
                             ZT_FormatW(L"CZtVeroveProxy::SetInt32::%s", feature), true, handle);
    const AT_64 wide = value;
    return Access(
        trace, handle, "AT_SetInt", [&] { return AT_SetInt(handle, feature, wide); },
        [&] { m_simulator.SetInt(feature, wide); });
}

int CZtVeroveProxy::GetFloat(int handle, const wchar_t* feature, double* value) {
    if (const int check = CheckCall(handle, feature, value)) {
        return check;
    }
    CZtVeroveCallTrace trace("CZtVeroveProxy::GetFloat",
                             ZT_FormatW(L"CZtVeroveProxy::GetFloat::%s", feature), true, handle);
    double result = 0.0;
    const int status = Access(
        trace, handle, "AT_GetFloat", [&] { return AT_GetFloat(handle, feature, &result); },
        [&] { result = m_simulator.GetFloat(feature); });
    if (status == 0) {
        *value = result;
    }
    return status;
}

int CZtVeroveProxy::GetFloatMin(int handle, const wchar_t* feature, double* value) {
    if (const int check = CheckCall(handle, feature, value)) {
        return check;
    }
    CZtVeroveCallTrace trace("CZtVeroveProxy::GetFloatMin",
                             ZT_FormatW(L"CZtVeroveProxy::GetFloatMin::%s", feature), true, handle);
    double result = 0.0;
    const int status = Access(
        trace, handle, "AT_GetFloatMin", [&] { return AT_GetFloatMin(handle, feature, &result); },
        [&] { result = 0.05; });
    if (status == 0) {
        *value = result;
    }
    return status;
}

int CZtVeroveProxy::GetFloatMax(int handle, const wchar_t* feature, double* value) {
    if (const int check = CheckCall(handle, feature, value)) {
        return check;
    }
    CZtVeroveCallTrace trace("CZtVeroveProxy::GetFloatMax",
                             ZT_FormatW(L"CZtVeroveProxy::GetFloatMax::%s", feature), true, handle);
    double result = 0.0;
    const int status = Access(
        trace, handle, "AT_GetFloatMax", [&] { return AT_GetFloatMax(handle, feature, &result); },
        [&] { result = 0.05; });
    if (status == 0) {
        *value = result;
    }
    return status;
}

int CZtVeroveProxy::SetFloat(int handle, const wchar_t* feature, double value) {
    if (const int check = CheckCall(handle, feature)) {
        return check;
    }
    CZtVeroveCallTrace trace("CZtVeroveProxy::SetFloat",
                             ZT_FormatW(L"CZtVeroveProxy::SetFloat::%s", feature), true, handle);
    return Access(
        trace, handle, "AT_SetFloat", [&] { return AT_SetFloat(handle, feature, value); },
        [&] { m_simulator.SetFloat(feature, value); });
}

int CZtVeroveProxy::GetEnumIndex(int handle, const wchar_t* feature, int* value) {
    if (const int check = CheckCall(handle, feature, value)) {
        return check;
    }
    CZtVeroveCallTrace trace("CZtVeroveProxy::GetEnumIndex",
                             ZT_FormatW(L"CZtVeroveProxy::GetEnumIndex::%s", feature), true,
                             handle);
    int result = 0;
    const int status = Access(
        trace, handle, "AT_GetEnumIndex", [&] { return AT_GetEnumIndex(handle, feature, &result); },
        [&] { result = m_simulator.GetEnumIndex(feature); });
    if (status == 0) {
        *value = result;
    }
    return status;
}

int CZtVeroveProxy::SetEnumString(int handle, const wchar_t* feature, const wchar_t* value) {
    if (const int check = CheckCall(handle, feature)) {
        return check;
    }
    if (!value) {
        return VeroveStatus::kInvalidArgument;
    }
    CZtVeroveCallTrace trace("CZtVeroveProxy::SetEnumString",
                             ZT_FormatW(L"CZtVeroveProxy::SetEnumString::%s", feature), true,
                             handle);
    return Access(
        trace, handle, "AT_SetEnumString", [&] { return AT_SetEnumString(handle, feature, value); },
        [&] { m_simulator.SetEnumString(feature, value); });
}

int CZtVeroveProxy::GetString(int handle, const wchar_t* feature, CZtStringW* text, bool quiet) {
    if (const int check = CheckCall(handle, feature, text)) {
        return check;
    }
    CZtVeroveCallTrace trace("CZtVeroveProxy::GetString",
                             ZT_FormatW(L"CZtVeroveProxy::GetString::%s", feature), true, handle);
    std::wstring result;
    const int status = Access(
        trace, handle, "AT_GetString",
        [&] {
            AT_WC buffer[64] = {};
            const int code = AT_GetString(handle, feature, buffer, 64);
            buffer[63] = L'\0';
            result = buffer;
            return code;
        },
        [&] { result = m_simulator.GetString(feature); }, quiet);
    if (status == 0) {
        *text = CZtStringW(std::move(result));
    }
    return status;
}

int CZtVeroveProxy::Command(int handle, const wchar_t* feature) {
    if (const int check = CheckCall(handle, feature)) {
        return check;
    }
    VEROVE_LOG("CZtVeroveProxy::Command", L"CZtVeroveProxy::Command(%d, %s)", handle, feature);
    CZtVeroveCallTrace trace("CZtVeroveProxy::Command",
                             ZT_FormatW(L"CZtVeroveProxy::Command::%s", feature), true, handle);
    return Access(
        trace, handle, "AT_Command", [&] { return AT_Command(handle, feature); }, [] {});
}

int CZtVeroveProxy::SetBuffer(int handle, unsigned char* buffer, int size) {
    if (handle < 1) {
        return VeroveStatus::kInvalidHandle;
    }
    if (!buffer) {
        return VeroveStatus::kNullOutput;
    }
    VEROVE_LOG("CZtVeroveProxy::SetBuffer", L"CZtVeroveProxy::SetBuffer(%d, %d)", handle, size);
    CZtVeroveCallTrace trace("CZtVeroveProxy::SetBuffer", L"CZtVeroveProxy::SetBuffer", true,
                             handle);
    return Access(
        trace, handle, "AT_QueueBuffer", [&] { return AT_QueueBuffer(handle, buffer, size); },
        [] {});
}

// ---- Named operations -----------------------------------------------------------------------

int CZtVeroveProxy::Abort(int handle) {
    VEROVE_LOG("CZtVeroveProxy::Abort", L"CZtVeroveProxy::Abort(%d)", handle);
    if (IsSimulated(handle)) {
        m_simulator.Abort();
    }
    return Command(handle, L"Abort");
}

int CZtVeroveProxy::ClearFrameMemory(int handle) {
    VEROVE_LOG("CZtVeroveProxy::ClearFrameMemory", L"CZtVeroveProxy::ClearFrameMemory(%d)", handle);
    return Command(handle, L"ClearFrameMemory");
}

int CZtVeroveProxy::ClearSequenceMemory(int handle) {
    VEROVE_LOG("CZtVeroveProxy::ClearSequenceMemory", L"CZtVeroveProxy::ClearSequenceMemory(%d)",
               handle);
    return Command(handle, L"ClearSequenceMemory");
}

int CZtVeroveProxy::Expose(int handle) {
    VEROVE_LOG("CZtVeroveProxy::Expose", L"CZtVeroveProxy::Expose(%d)", handle);
    const int status = Command(handle, L"Expose");
    if (status != 0 || !IsSimulated(handle)) {
        return status;
    }
    return m_simulator.Expose();
}

int CZtVeroveProxy::UploadFrame(int handle) {
    VEROVE_LOG("CZtVeroveProxy::UploadFrame", L"CZtVeroveProxy::UploadFrame(%d)", handle);
    return Command(handle, L"UploadFrame");
}

int CZtVeroveProxy::UploadGrayScaleImage(int handle) {
    VEROVE_LOG("CZtVeroveProxy::UploadGrayScaleImage", L"CZtVeroveProxy::UploadGrayScaleImage(%d)",
               handle);
    return Command(handle, L"UploadGrayScaleImage");
}

int CZtVeroveProxy::UploadSequenceEvent(int handle) {
    VEROVE_LOG("CZtVeroveProxy::UploadSequenceEvent", L"CZtVeroveProxy::UploadSequenceEvent(%d)",
               handle);
    return Command(handle, L"UploadSequenceEvent");
}

int CZtVeroveProxy::IsExposing(int handle, bool* exposing) {
    bool value = false;
    const int status = GetBool(handle, L"IsExposing", &value);
    VEROVE_LOG("CZtVeroveProxy::IsExposing", L"CZtVeroveProxy::IsExposing(%d, %d)", handle,
               value ? 1 : 0);
    if (status != 0) {
        return status;
    }
    if (!exposing) {
        return VeroveStatus::kNullOutput;
    }
    *exposing = value;
    return 0;
}

int CZtVeroveProxy::SetInvertMode(int handle, bool invert) {
    VEROVE_LOG("CZtVeroveProxy::SetInvertMode", L"CZtVeroveProxy::SetInvertMode(%d, %d)", handle,
               invert ? 1 : 0);
    return SetBool(handle, L"InvertMode", invert);
}

int CZtVeroveProxy::SetOverlapMode(int handle, bool overlap) {
    VEROVE_LOG("CZtVeroveProxy::SetOverlapMode", L"CZtVeroveProxy::SetOverlapMode(%d, %d)", handle,
               overlap ? 1 : 0);
    return SetBool(handle, L"OverlapMode", overlap);
}

int CZtVeroveProxy::SetExposureTime(int handle, double seconds) {
    VEROVE_LOG("CZtVeroveProxy::SetExposureTime", L"CZtVeroveProxy::SetExposureTime(%d, %f)",
               handle, seconds);
    return SetFloat(handle, L"ExposureTime", seconds);
}

int CZtVeroveProxy::SetSequenceExposureTime(int handle, double seconds) {
    VEROVE_LOG("CZtVeroveProxy::SetSequenceExposureTime",
               L"CZtVeroveProxy::SetSequenceExposureTime(%d, %f)", handle, seconds);
    return SetFloat(handle, L"SequenceExposureTime", seconds);
}

int CZtVeroveProxy::SetGrayScaleExposureTime(int handle, double seconds) {
    return SetFloat(handle, L"GrayScaleExposureTime", seconds);
}

int CZtVeroveProxy::SetSequenceGapTime(int handle, double seconds) {
    return SetFloat(handle, L"SequenceGapTime", seconds);
}

int CZtVeroveProxy::SetFrameIndex(int handle, int index) {
    VEROVE_LOG("CZtVeroveProxy::SetFrameIndex", L"CZtVeroveProxy::SetFrameIndex(%d, %d)", handle,
               index);
    return SetInt32(handle, L"FrameIndex", index);
}

int CZtVeroveProxy::SetFrameCount(int handle, int count) {
    VEROVE_LOG("CZtVeroveProxy::SetFrameCount", L"CZtVeroveProxy::SetFrameCount(%d, %d)", handle,
               count);
    return SetInt32(handle, L"FrameCount", count);
}

int CZtVeroveProxy::SetFrameCycleCount(int handle, int count) {
    VEROVE_LOG("CZtVeroveProxy::SetFrameCycleCount", L"CZtVeroveProxy::SetFrameCycleCount(%d, %d)",
               handle, count);
    return SetInt32(handle, L"FrameCycleCount", count);
}

int CZtVeroveProxy::SetSequenceStartIndex(int handle, int index) {
    VEROVE_LOG("CZtVeroveProxy::SetSequenceStartIndex",
               L"CZtVeroveProxy::SetSequenceStartIndex(%d, %d)", handle, index);
    return SetInt32(handle, L"SequenceStartIndex", index);
}

int CZtVeroveProxy::SetSequenceLoopCount(int handle, int count) {
    VEROVE_LOG("CZtVeroveProxy::SetSequenceLoopCount",
               L"CZtVeroveProxy::SetSequenceLoopCount(%d, %d)", handle, count);
    return SetInt32(handle, L"SequenceLoopCount", count);
}

int CZtVeroveProxy::SetSequenceLoopLength(int handle, int length) {
    return SetInt32(handle, L"SequenceLoopLength", length);
}

int CZtVeroveProxy::SetOperationMode(int handle, const wchar_t* value) {
    VEROVE_LOG("CZtVeroveProxy::SetOperationMode", L"CZtVeroveProxy::SetOperationMode(%d, %s)",
               handle, value ? value : L"");
    return SetEnumString(handle, L"OperationMode", value);
}

int CZtVeroveProxy::SetTriggerMode(int handle, const wchar_t* value) {
    return SetEnumString(handle, L"TriggerMode", value);
}

int CZtVeroveProxy::SetPixelEncoding(int handle, const wchar_t* value) {
    return SetEnumString(handle, L"PixelEncoding", value);
}

int CZtVeroveProxy::SetGrayScaleSequenceEncoding(int handle, const wchar_t* value) {
    return SetEnumString(handle, L"GrayScaleSequenceEncoding", value);
}
