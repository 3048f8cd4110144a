// Control and inspection side of the fake SDK library: what tests and the simulated camera use.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#define FAKE_ATCORE_API __attribute__((visibility("default")))

namespace fake_atcore {

// One AT_* call as the library saw it.
struct CallRecord {
    std::string function;  // "AT_SetInt", "AT_Command", ...
    int handle = -1;       // -1 for calls without a handle (AT_InitialiseLibrary, AT_Open)
    std::wstring feature;  // empty for calls without a feature
    std::wstring value;    // value written, or value read on success ("1", "0.5", "Live", ...)
    int result = 0;        // the AT_* return code
    double timeMs = 0;     // milliseconds since the library was loaded, when the call returned
    double startMs = 0;    // the same clock, when the call entered the library
    int device = -1;       // the index of the device the handle was open on; -1 for none
};

// A frame of mirrors: the one shown now, or one held in frame memory.
struct MirrorFrame {
    int width = 0;
    int height = 0;
    // "Mono1Packed" (1 bit per mirror, most significant bit first), "Mono1" (one byte per
    // mirror, non-zero is on) or "4BitDIP"/"6BitDIP"/"8BitDIP" (one byte per mirror holding a
    // grey value of that many bits).
    std::wstring encoding;
    std::vector<std::uint8_t> bytes;  // as uploaded
    std::vector<std::uint8_t>
        levels;                 // one byte per mirror, 0 dark ... 255 fully on, time-averaged
    int frameIndex = -1;        // frame-memory slot, -1 for the live buffer or none
    std::uint64_t counter = 0;  // increases each time a new frame is shown
    bool exposing = false;      // "IsExposing": light reaches the sample only then
};

// One uploaded sequence event.
struct SequenceEvent {
    std::int64_t frameIndex = 0;
    std::int64_t frameCount = 0;
    std::int64_t frameCycleCount = 0;
    double exposureTime = 0;  // seconds per frame
    double gapTime = 0;       // seconds after the event
};

// Back to the state at load: not initialised, nothing open, one Verove III of 800 x 600 mirrors,
// default features, no calls recorded, no faults.
FAKE_ATCORE_API void Reset();

// ---- The simulated devices ------------------------------------------------------------------
// "DeviceCount" on the system handle. Index 0 is the Verove III; further indices are devices
// of the same model unless their "DeviceType" is changed.
FAKE_ATCORE_API void SetDeviceCount(int count);
// "SensorWidth"/"SensorHeight" of a device.
FAKE_ATCORE_API void SetSensorSize(int width, int height, int index = 0);
// Sets a read-only string feature ("DeviceType", "SerialNumber", "FirmwareVersion",
// "ControllerFirmwareVersion") of a device.
FAKE_ATCORE_API void SetDeviceString(int index, const std::wstring& feature,
                                     const std::wstring& value);
// How many frames and sequence events a device holds; a further upload fails.
FAKE_ATCORE_API void SetMemoryCapacity(int frames, int events, int index = 0);
FAKE_ATCORE_API bool IsInitialised();
FAKE_ATCORE_API int OpenDeviceCount();

// ---- Call record ----------------------------------------------------------------------------
FAKE_ATCORE_API std::vector<CallRecord> Calls();
// The calls on one device's handles, in order: each device's own record.
FAKE_ATCORE_API std::vector<CallRecord> DeviceCalls(int index);
FAKE_ATCORE_API void ClearCalls();
// Now, on the clock of CallRecord::timeMs and startMs.
FAKE_ATCORE_API double ClockMs();

// ---- Fault injection ------------------------------------------------------------------------
// The next count calls of function (optionally only those on feature, and only those on device
// index's handle when index is not -1) return code and do nothing else.
FAKE_ATCORE_API void InjectError(const std::string& function, int code, int count = 1,
                                 const std::wstring& feature = L"", int index = -1);
// The next count calls of function (optionally only those on feature) throw std::runtime_error.
FAKE_ATCORE_API void InjectException(const std::string& function, int count = 1,
                                     const std::wstring& feature = L"");
// Drops the injected faults not yet used up.
FAKE_ATCORE_API void ClearFaults();
// AT_Open of this index answers AT_ERR_DEVICEINUSE, as when another process holds it.
FAKE_ATCORE_API void SetIndexBusy(int index, bool busy = true);
// AT_Open succeeds with the system handle 1 instead of a device handle.
FAKE_ATCORE_API void SetOpenReturnsSystemHandle(bool on);
// Every call of function sleeps this long before it runs (0 removes the delay); with an index
// other than -1 only the calls on that device's handle, as an SDK that stalls on one unit.
FAKE_ATCORE_API void SetDelay(const std::string& function, int milliseconds, int index = -1);

// ---- Mirrors --------------------------------------------------------------------------------
FAKE_ATCORE_API MirrorFrame ShownFrame(int index = 0);
FAKE_ATCORE_API std::vector<MirrorFrame> FrameMemory(int index = 0);
FAKE_ATCORE_API std::vector<SequenceEvent> SequenceEvents(int index = 0);
// An external trigger: starts the next sequence event when the trigger mode is external.
FAKE_ATCORE_API void Trigger(int index = 0);
// Waits until "IsExposing" is false and every callback of its changes has returned.
FAKE_ATCORE_API bool WaitForExposureEnd(int timeoutMs, int index = 0);
// Waits until the shown frame's counter reaches counter.
FAKE_ATCORE_API bool WaitForFrameCounter(std::uint64_t counter, int timeoutMs, int index = 0);

}  // namespace fake_atcore

// ---- For host programs that find the library at run time (dlsym) instead of linking it --------
// Plain C names and types, so that a program built apart from the library can call them.
extern "C" {
// The frame device 0 shows now: its size and counter always; its levels (one byte per mirror)
// into levels when capacity holds them all. 1 while it exposes, else 0.
FAKE_ATCORE_API int fake_atcore_ShownFrame(int* width, int* height, std::uint64_t* counter,
                                           std::uint8_t* levels, std::size_t capacity);
// The same for the device of that index.
FAKE_ATCORE_API int fake_atcore_DeviceShownFrame(int index, int* width, int* height,
                                                 std::uint64_t* counter, std::uint8_t* levels,
                                                 std::size_t capacity);
// SetDeviceCount(count): a host program offers several units before the plug-in enumerates them.
FAKE_ATCORE_API void fake_atcore_SetDeviceCount(int count);
// ClockMs().
FAKE_ATCORE_API double fake_atcore_ClockMs();
// When the latest successful call of function (an AT_* name) on feature entered the library, on
// the clock of ClockMs(); -1 when the record holds none.
FAKE_ATCORE_API double fake_atcore_LastCallStartMs(const char* function, const wchar_t* feature);
}
