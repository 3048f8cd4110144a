// The plug-in's only gateway to the vendor SDK (atcore), with a built-in simulated unit.
#pragma once

#include <atomic>
#include <cstdint>
#include <map>

#include "atcore.h"
#include "cztverovecalltrace.h"
#include "cztverovehandlelocks.h"
#include "cztverovesimulator.h"
#include "zt/zt_string.h"
#include "zt/zt_sync.h"

// Receiver of device events ("IsExposing"); called on the SDK's or the simulator's thread.
using ZtVeroveEventCallback = void (*)(int handle, const wchar_t* feature);

// Thread-safe. One instance per process; calls on one handle are serialised by that handle's
// lock, and no exception leaves any method. Once Close has begun on a handle, calls on it fail
// (VeroveStatus::kFailed) instead of waiting: Close may wait for the SDK's threads, whose callbacks
// call back in.
class CZtVeroveProxy {
public:
    // Device index that opens the simulated unit; also the handle it is opened under.
    static constexpr int SimulatorIndex = 123456789;

    static CZtVeroveProxy& Instance();

    CZtVeroveProxy(const CZtVeroveProxy&) = delete;
    CZtVeroveProxy& operator=(const CZtVeroveProxy&) = delete;

    // Library and device.
    int InitialiseLibrary(bool report);
    int FinaliseLibrary();
    int Open(int deviceIndex, int* handle);
    int Close(int handle);
    int GetDeviceCount(int* count);
    int IsVerove3(int handle, int* isVerove);
    int GetSerialNumber(int handle, CZtStringW* text);
    int GetFirmwareVersion(int handle, CZtStringW* text);
    int GetControllerFirmwareVersion(int handle, CZtStringW* text);
    int GetSDKVersion(CZtStringW* text);
    int GetSensorSize(int handle, int* width, int* height);
    int GetImageSizeBytes(int handle, int* size);
    int SetFeatureCallback(int handle, ZtVeroveEventCallback callback);

    // Typed feature access.
    int GetBool(int handle, const wchar_t* feature, bool* value);
    int SetBool(int handle, const wchar_t* feature, bool value);
    int GetInt32(int handle, const wchar_t* feature, int* value);
    int SetInt32(int handle, const wchar_t* feature, int value);
    int GetFloat(int handle, const wchar_t* feature, double* value);
    int GetFloatMin(int handle, const wchar_t* feature, double* value);
    int GetFloatMax(int handle, const wchar_t* feature, double* value);
    int SetFloat(int handle, const wchar_t* feature, double value);
    int GetEnumIndex(int handle, const wchar_t* feature, int* value);
    int SetEnumString(int handle, const wchar_t* feature, const wchar_t* value);
    int GetString(int handle, const wchar_t* feature, CZtStringW* text, bool quiet = false);
    int Command(int handle, const wchar_t* feature);
    int SetBuffer(int handle, unsigned char* buffer, int size);

    // Named operations.
    int Abort(int handle);
    int ClearFrameMemory(int handle);
    int ClearSequenceMemory(int handle);
    int Expose(int handle);
    int UploadFrame(int handle);
    int UploadGrayScaleImage(int handle);
    int UploadSequenceEvent(int handle);
    int IsExposing(int handle, bool* exposing);
    int SetInvertMode(int handle, bool invert);
    int SetOverlapMode(int handle, bool overlap);
    int SetExposureTime(int handle, double seconds);
    int SetSequenceExposureTime(int handle, double seconds);
    int SetGrayScaleExposureTime(int handle, double seconds);
    int SetSequenceGapTime(int handle, double seconds);
    int SetFrameIndex(int handle, int index);
    int SetFrameCount(int handle, int count);
    int SetFrameCycleCount(int handle, int count);
    int SetSequenceStartIndex(int handle, int index);
    int SetSequenceLoopCount(int handle, int count);
    int SetSequenceLoopLength(int handle, int length);
    int SetOperationMode(int handle, const wchar_t* value);
    int SetTriggerMode(int handle, const wchar_t* value);
    int SetPixelEncoding(int handle, const wchar_t* value);
    int SetGrayScaleSequenceEncoding(int handle, const wchar_t* value);

    // Registered with the SDK for "IsExposing"; forwards to the event callback slot.
    static int AT_EXP_CONV Callback(AT_H handle, const AT_WC* feature, void* context);

    // Checks that the SDK library (and, if present or required, the BitFlow frame grabber
    // libraries at a minimum version) can be found. minimumVersion packs major.minor.build.revision
    // as (major << 48 | minor << 32 | build << 16 | revision); 0 means no minimum.
    static bool AndorDLLCheck(bool bitflowRequired, std::int64_t minimumVersion,
                              const wchar_t* requirementText, bool log,
                              const char* tag = "AndorDLLCheck");

private:
    CZtVeroveProxy();
    ~CZtVeroveProxy();

    // Runs one SDK call (or its simulated counterpart) under the handle's lock.
    template <typename SdkCall, typename SimCall>
    int Access(CZtVeroveCallTrace& trace, int handle, const char* sdkFunction, SdkCall sdk,
               SimCall sim, bool quiet = false);
    bool IsSimulated(int handle) const { return handle == m_simulatedHandle.load(); }

    CZtCriticalSection m_globalLock;
    int m_libraryRefCount = 0;           // m_globalLock
    std::map<int, int> m_handleToIndex;  // m_globalLock
    // A handle's lock may be held while the global lock is taken, never the other way round.
    CZtVeroveHandleLocks m_handleLocks;
    std::atomic<int> m_simulatedHandle{-1};
    // Declared last: it goes first, stopping its thread while everything it reaches is alive.
    CZtVeroveSimulator m_simulator;
};
