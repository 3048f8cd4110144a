// One simulated Verove III: its features, queued buffer, frame and sequence memory, and the
// thread that times exposures, runs sequences and fires the feature callbacks.
#pragma once

#include <chrono>
#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "atcore.h"
#include "fake_atcore_control.h"

// Thread-safe. Callbacks run on the device's own thread with no lock held, so they may call
// back into the device. Close and Reset end that thread and wait for the callback under way, as
// an SDK that unregisters callbacks does: a callback must not close its own device's library.
class FakeDevice {
public:
    FakeDevice();
    ~FakeDevice();
    FakeDevice(const FakeDevice&) = delete;
    FakeDevice& operator=(const FakeDevice&) = delete;

    // Factory state: default features, empty memories, no buffer, no callbacks, not exposing.
    void Reset();
    // The handle the device was opened with; callbacks receive it.
    void SetHandle(AT_H handle);
    // Stops any exposure, forgets the queued buffer and the callbacks, and ends the device's
    // thread. Memories stay.
    void Close();

    void SetSensorSize(int width, int height);
    void SetReadOnlyString(const std::wstring& feature, const std::wstring& value);
    void SetMemoryCapacity(int frames, int events);

    // AT_* semantics; each returns an AT_ code.
    int GetInt(const std::wstring& feature, AT_64* value);
    int SetInt(const std::wstring& feature, AT_64 value);
    int GetFloat(const std::wstring& feature, double* value);
    int GetFloatMin(const std::wstring& feature, double* value);
    int GetFloatMax(const std::wstring& feature, double* value);
    int SetFloat(const std::wstring& feature, double value);
    int GetBool(const std::wstring& feature, bool* value);
    int SetBool(const std::wstring& feature, bool value);
    int GetEnumIndex(const std::wstring& feature, int* value);
    int SetEnumIndex(const std::wstring& feature, int value);
    int SetEnumString(const std::wstring& feature, const std::wstring& value);
    int GetEnumCount(const std::wstring& feature, int* count);
    int GetEnumString(const std::wstring& feature, int index, std::wstring* text);
    int GetString(const std::wstring& feature, std::wstring* text);
    int SetString(const std::wstring& feature, const std::wstring& text);
    int Command(const std::wstring& feature);
    int QueueBuffer(AT_U8* buffer, int size);
    int Flush();
    int RegisterCallback(const std::wstring& feature, FeatureCallback callback, void* context);
    int UnregisterCallback(const std::wstring& feature, FeatureCallback callback, void* context);

    fake_atcore::MirrorFrame Shown();
    std::vector<fake_atcore::MirrorFrame> Frames();
    std::vector<fake_atcore::SequenceEvent> Events();
    void Trigger();
    bool WaitForExposureEnd(int timeoutMs);
    bool WaitForFrameCounter(std::uint64_t counter, int timeoutMs);

private:
    using Clock = std::chrono::steady_clock;
    enum class Kind { Bool, Int, Float, Enum, String };
    struct Feature {
        Kind kind = Kind::Int;
        bool writable = true;
        bool b = false;
        AT_64 i = 0, imin = 0, imax = 0;
        double f = 0, fmin = 0, fmax = 0;
        int e = 0;
        std::vector<std::wstring> options;
        std::wstring s;
    };
    struct StoredFrame {
        fake_atcore::MirrorFrame frame;
        // For a bit plane of a grey-scale image: the whole image, which is what the sample sees
        // while the planes cycle.
        std::shared_ptr<const fake_atcore::MirrorFrame> grey;
    };
    struct Callback {
        std::wstring feature;
        FeatureCallback function;
        void* context;
    };
    struct Step {
        int frame;  // -1: dark gap
        double seconds;
        bool awaitTrigger;
    };
    enum class Run { Idle, Timed, Held, Sequence };

    // All private helpers expect mutex_ to be held.
    void Defaults();
    Feature* Find(const std::wstring& name, Kind kind, int* error);
    AT_64 Int(const wchar_t* name) { return features_[name].i; }
    double Float(const wchar_t* name) { return features_[name].f; }
    int Enum(const wchar_t* name) { return features_[name].e; }
    std::wstring EnumText(const wchar_t* name);
    void UpdateDerived();
    int CheckBuffer(std::size_t needed);
    int Expose();
    int Abort();
    int UploadFrame();
    int UploadGrayScaleImage();
    int UploadSequenceEvent();
    void SetExposing(bool on);
    void Show(const fake_atcore::MirrorFrame& frame, int frameIndex);
    void ShowStored(int frameIndex);
    void StartStep();
    void Advance();
    void EnsureWorker();
    // Runs until the generation changes.
    void Worker(std::uint64_t generation);
    // Ends the thread taken out of worker_: joins it, or, called on that very thread from a
    // callback, keeps it to be joined later. mutex_ not held.
    void EndWorker(std::thread worker);

    std::mutex mutex_;
    std::condition_variable wake_;    // worker: new notification, deadline, trigger or stop
    std::condition_variable change_;  // waiters: exposure end delivered, frame shown
    std::map<std::wstring, Feature> features_;  // guarded by mutex_
    AT_H handle_ = AT_HANDLE_UNINITIALISED;
    AT_U8* buffer_ = nullptr;  // the user's queued buffer, borrowed
    std::size_t bufferSize_ = 0;
    std::vector<StoredFrame> frames_;
    std::vector<fake_atcore::SequenceEvent> events_;
    std::size_t frameCapacity_ = 256, eventCapacity_ = 1024;
    std::vector<Callback> callbacks_;
    fake_atcore::MirrorFrame shown_;

    Run run_ = Run::Idle;
    Clock::time_point deadline_;
    std::vector<Step> steps_;
    std::size_t step_ = 0;
    int loopsLeft_ = 0;  // -1: until Abort
    bool waitingTrigger_ = false;
    int triggers_ = 0;

    int pendingNotifications_ = 0;
    bool delivering_ = false;
    std::uint64_t generation_ = 0;  // the running worker's; changed to end it
    std::thread worker_;
    std::thread retired_;  // a worker closed from its own callback, joined by the next Close
};
