// The control and inspection functions of the fake SDK library.
#include "fake_atcore_control.h"

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
void SetSensorSize(int width, int height) {
    Lib().Device(0).SetSensorSize(width, height);
}
void SetDeviceString(int index, const std::wstring& feature, const std::wstring& value) {
    Lib().Device(index).SetReadOnlyString(feature, value);
}
void SetMemoryCapacity(int frames, int events) {
    Lib().Device(0).SetMemoryCapacity(frames, events);
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
void ClearCalls() {
    Lib().ClearCalls();
}
double ClockMs() {
    return Lib().NowMs();
}

void InjectError(const std::string& function, int code, int count, const std::wstring& feature) {
    Lib().InjectFault(function, code, false, count, feature);
}
void InjectException(const std::string& function, int count, const std::wstring& feature) {
    Lib().InjectFault(function, 0, true, count, feature);
}
void SetIndexBusy(int index, bool busy) {
    Lib().SetIndexBusy(index, busy);
}
void SetOpenReturnsSystemHandle(bool on) {
    Lib().SetOpenReturnsSystemHandle(on);
}
void SetDelay(const std::string& function, int milliseconds) {
    Lib().SetDelay(function, milliseconds);
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
