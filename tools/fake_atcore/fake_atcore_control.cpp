// The control and inspection functions of the fake SDK library.
#include "fake_atcore_control.h"

#include <algorithm>

#include "fakelibrary.h"

namespace fake_atcore {
namespace {

FakeLibrary& Lib() {
    return FakeLibrary::Instance();
}

}  // namespace

void Reset() {
    Lib().Reset();
}
void SetDeviceCount(int count) {
    Lib().SetDeviceCount(count);
}
void SetSensorSize(int width, int height, int index) {
    Lib().Device(index).SetSensorSize(width, height);
}
void SetDeviceString(int index, const std::wstring& feature, const std::wstring& value) {
    Lib().Device(index).SetReadOnlyString(feature, value);
}
void SetMemoryCapacity(int frames, int events, int index) {
    Lib().Device(index).SetMemoryCapacity(frames, events);
}
bool IsInitialised() {
    return Lib().IsInitialised();
}
int OpenDeviceCount() {
    return Lib().OpenDeviceCount();
}

std::vector<CallRecord> Calls() {
    return Lib().Calls();
}
std::vector<CallRecord> DeviceCalls(int index) {
    std::vector<CallRecord> calls = Lib().Calls();
    calls.erase(std::remove_if(calls.begin(), calls.end(),
                               [index](const CallRecord& call) { return call.device != index; }),
                calls.end());
    return calls;
}
void ClearCalls() {
    Lib().ClearCalls();
}
double ClockMs() {
    return Lib().NowMs();
}

void InjectError(const std::string& function, int code, int count, const std::wstring& feature,
                 int index) {
    Lib().InjectFault(function, code, false, count, feature, index);
}
void InjectException(const std::string& function, int count, const std::wstring& feature) {
    Lib().InjectFault(function, 0, true, count, feature, -1);
}
void ClearFaults() {
    Lib().ClearFaults();
}
void SetIndexBusy(int index, bool busy) {
    Lib().SetIndexBusy(index, busy);
}
void SetOpenReturnsSystemHandle(bool on) {
    Lib().SetOpenReturnsSystemHandle(on);
}
void SetDelay(const std::string& function, int milliseconds, int index) {
    Lib().SetDelay(function, milliseconds, index);
}

MirrorFrame ShownFrame(int index) {
    return Lib().Device(index).Shown();
}
std::vector<MirrorFrame> FrameMemory(int index) {
    return Lib().Device(index).Frames();
}
std::vector<SequenceEvent> SequenceEvents(int index) {
    return Lib().Device(index).Events();
}
void Trigger(int index) {
    Lib().Device(index).Trigger();
}
bool WaitForExposureEnd(int timeoutMs, int index) {
    return Lib().Device(index).WaitForExposureEnd(timeoutMs);
}
bool WaitForFrameCounter(std::uint64_t counter, int timeoutMs, int index) {
    return Lib().Device(index).WaitForFrameCounter(counter, timeoutMs);
}

}  // namespace fake_atcore

int fake_atcore_ShownFrame(int* width, int* height, std::uint64_t* counter, std::uint8_t* levels,
                           std::size_t capacity) {
    return fake_atcore_DeviceShownFrame(0, width, height, counter, levels, capacity);
}

int fake_atcore_DeviceShownFrame(int index, int* width, int* height, std::uint64_t* counter,
                                 std::uint8_t* levels, std::size_t capacity) {
    const fake_atcore::MirrorFrame frame = fake_atcore::ShownFrame(index);
    *width = frame.width;
    *height = frame.height;
    *counter = frame.counter;
    if (levels && frame.levels.size() <= capacity) {
        std::copy(frame.levels.begin(), frame.levels.end(), levels);
    }
    return frame.exposing ? 1 : 0;
}

void fake_atcore_SetDeviceCount(int count) {
    fake_atcore::SetDeviceCount(count);
}

double fake_atcore_ClockMs() {
    return fake_atcore::ClockMs();
}

double fake_atcore_LastCallStartMs(const char* function, const wchar_t* feature) {
    const std::vector<fake_atcore::CallRecord> calls = fake_atcore::Calls();
    for (auto call = calls.rbegin(); call != calls.rend(); ++call) {
        if (call->function == function && call->feature == feature && call->result == 0) {
            return call->startMs;
        }
    }
    return -1.0;
}
