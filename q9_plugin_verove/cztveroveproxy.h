// The plug-in's only gateway to the vendor SDK (atcore), with a built-in simulated unit.
#pragma once

#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>

#include "atcore.h"
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
    class CallTrace;
    class HandleLock;

    CZtVeroveProxy();
    ~CZtVeroveProxy();

    // The handle's lock, created on first use; entered on return and left when the result dies.
    // Null, without an entry made, for a handle that is closed or being closed.
    std::shared_ptr<void> LockHandle(int handle);
    // Turns new and waiting callers of the handle away and returns its lock, not entered.
    std::shared_ptr<HandleLock> BeginClosing(int handle);
    void ForgetClosed(int handle);
    // Runs one SDK call (or its simulated counterpart) under the handle's lock.
    template <typename SdkCall, typename SimCall>
    int Access(CallTrace& trace, int handle, const char* sdkFunction, SdkCall sdk, SimCall sim,
               bool quiet = false);
    bool IsSimulated(int handle) const { return handle == m_simulatedHandle.load(); }

    bool StartSimulator();
    void StopSimulator();
    void JoinRetiredSimulator();  // m_simThreadMutex held
    // Runs until the generation changes.
    void SimulatorThread(std::uint64_t generation);

    CZtCriticalSection m_globalLock;
    int m_libraryRefCount = 0;           // m_globalLock
    std::map<int, int> m_handleToIndex;  // m_globalLock
    // A leaf lock: nothing is called while it is held, so finding a handle's lock never waits
    // for the global lock, which FinaliseLibrary holds while the SDK ends its threads.
    std::mutex m_handleLocksMutex;
    std::map<int, std::shared_ptr<HandleLock>> m_handleLocks;  // m_handleLocksMutex
    std::set<int> m_closedHandles;  // m_handleLocksMutex; closed, not opened again since

    // Simulated unit. The tables are guarded by the lock of handle SimulatorIndex.
    std::atomic<int> m_simulatedHandle{-1};
    std::map<std::wstring, bool> m_simBool;
    std::map<std::wstring, long long> m_simInt;
    std::map<std::wstring, double> m_simFloat;
    std::map<std::wstring, std::wstring> m_simString;
    std::map<std::wstring, int> m_simEnum;
    std::map<std::wstring, int> m_simEnumValues;
    CZtEvent m_simEvent{false, false};
    std::mutex m_simThreadMutex;  // serialises starting and stopping the simulator thread
    std::thread m_simThread;      // m_simThreadMutex
    // A thread stopped from its own event callback: it ends when the callback returns and is
    // joined by the next start or stop, or by the destructor; m_simThreadMutex.
    std::thread m_simRetired;
    std::atomic<std::uint64_t> m_simGeneration{0};  // the running thread's; changed to stop it
    std::atomic<bool> m_simAbortPending{false};
};
