// Process-wide state of the fake SDK library: initialisation, devices and their handles, the
// call record and the faults tests inject.
#pragma once

#include <chrono>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "atcore.h"
#include "fake_atcore_control.h"
#include "fakedevice.h"

// Thread-safe. No lock is held while a device works or a call sleeps, so calls from several
// threads and from callbacks proceed side by side. Opening, closing, finalising and resetting
// are serialised; closing a device waits for its callback under way, which may call any feature
// function meanwhile.
class FakeLibrary {
public:
    static FakeLibrary& Instance();

    // Runs one AT_* call: its delay, then an injected fault or body, then the record. body fills
    // the value text and returns the AT_ code.
    int Call(const char* function, AT_H handle, const AT_WC* feature,
             const std::function<int(std::wstring* value)>& body);
    // Runs fn on the open device behind handle, after the checks every feature call makes.
    int OnDevice(AT_H handle, const AT_WC* feature, const std::function<int(FakeDevice&)>& fn);
    // Features of the system handle, AT_HANDLE_SYSTEM.
    int SystemInt(const std::wstring& feature, AT_64* value);
    int SystemString(const std::wstring& feature, std::wstring* value);

    int Initialise();
    int Finalise();
    int Open(int index, AT_H* handle);
    int Close(AT_H handle);

    void Reset();
    void SetDeviceCount(int count);
    FakeDevice& Device(int index);  // grows the device list when needed
    bool IsInitialised();
    int OpenDeviceCount();
    std::vector<fake_atcore::CallRecord> Calls();
    void ClearCalls();
    // Milliseconds since the library was loaded: the clock of the call record.
    double NowMs() const;
    void InjectFault(const std::string& function, int code, bool exception, int count,
                     const std::wstring& feature, int device);
    void ClearFaults();
    void SetIndexBusy(int index, bool busy);
    void SetOpenReturnsSystemHandle(bool on);
    void SetDelay(const std::string& function, int milliseconds, int device);

private:
    struct Fault {
        std::string function;
        std::wstring feature;  // empty: any feature
        int code;
        bool exception;
        int count;
        int device;  // -1: any
    };
    FakeLibrary();
    FakeDevice& DeviceLocked(int index);

    std::mutex openCloseMutex_;  // taken before mutex_, never by feature calls
    std::mutex mutex_;
    const std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now();
    bool initialised_ = false;  // guarded by mutex_, as is all below
    int deviceCount_ = 1;
    std::vector<std::unique_ptr<FakeDevice>> devices_;  // only grows: devices outlive handles
    std::map<AT_H, int> open_;                          // handle -> device index
    std::set<int> busy_;
    bool openReturnsSystemHandle_ = false;
    std::vector<fake_atcore::CallRecord> calls_;
    std::vector<Fault> faults_;
    std::map<std::pair<std::string, int>, int> delays_;  // (function, device or -1) -> ms
};
