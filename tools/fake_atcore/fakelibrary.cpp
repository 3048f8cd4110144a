// Process-wide state of the fake SDK library.
#include "fakelibrary.h"

#include <stdexcept>
#include <thread>

namespace {

// Device handles are far from the system handle 1 so that a mix-up shows.
constexpr AT_H kFirstDeviceHandle = 100;

}  // namespace

FakeLibrary& FakeLibrary::Instance() {
    static FakeLibrary library;
    return library;
}

FakeLibrary::FakeLibrary() {
    devices_.push_back(std::make_unique<FakeDevice>());
}

int FakeLibrary::Call(const char* function, AT_H handle, const AT_WC* feature,
                      const std::function<int(std::wstring* value)>& body) {
    const double startMs = NowMs();
    const std::wstring name = feature ? feature : L"";
    int delayMs = 0;
    bool faulted = false, exception = false;
    int result = AT_SUCCESS;
    int device = -1;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        const auto open = open_.find(handle);
        device = open == open_.end() ? -1 : open->second;
        for (int key : {device, -1}) {
            const auto delay = delays_.find({function, key});
            if (delay != delays_.end()) {
                delayMs = delay->second;
                break;
            }
        }
        for (auto it = faults_.begin(); it != faults_.end(); ++it) {
            if (it->function == function && (it->feature.empty() || it->feature == name) &&
                (it->device == -1 || it->device == device)) {
                faulted = true;
                exception = it->exception;
                result = it->code;
                if (--it->count <= 0) {
                    faults_.erase(it);
                }
                break;
            }
        }
    }
    if (delayMs > 0) {
        std::this_thread::sleep_for(std::chrono::milliseconds(delayMs));
    }
    std::wstring value;
    if (!faulted) {
        result = body(&value);
    }
    {
        std::lock_guard<std::mutex> lock(mutex_);
        fake_atcore::CallRecord record;
        record.function = function;
        record.handle = handle;
        record.feature = name;
        record.value = value;
        record.result = exception ? -1 : result;
        record.timeMs = NowMs();
        record.startMs = startMs;
        record.device = device;
        calls_.push_back(std::move(record));
    }
    if (exception) {
        throw std::runtime_error(std::string("fake atcore: injected exception in ") + function);
    }
    return result;
}

int FakeLibrary::OnDevice(AT_H handle, const AT_WC* feature,
                          const std::function<int(FakeDevice&)>& fn) {
    FakeDevice* device = nullptr;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (!initialised_) {
            return AT_ERR_NOTINITIALISED;
        }
        if (handle == AT_HANDLE_SYSTEM) {
            return AT_ERR_NOTIMPLEMENTED;
        }
        auto it = open_.find(handle);
        if (it == open_.end()) {
            return AT_ERR_INVALIDHANDLE;
        }
        if (!feature) {
            return AT_ERR_NULL_FEATURE;
        }
        device = devices_[it->second].get();
    }
    return fn(*device);
}

int FakeLibrary::SystemInt(const std::wstring& feature, AT_64* value) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!initialised_) {
        return AT_ERR_NOTINITIALISED;
    }
    if (feature != L"DeviceCount") {
        return AT_ERR_NOTIMPLEMENTED;
    }
    *value = deviceCount_;
    return AT_SUCCESS;
}

int FakeLibrary::SystemString(const std::wstring& feature, std::wstring* value) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!initialised_) {
        return AT_ERR_NOTINITIALISED;
    }
    if (feature != L"SoftwareVersion") {
        return AT_ERR_NOTIMPLEMENTED;
    }
    *value = L"3.15.30000.0";
    return AT_SUCCESS;
}

int FakeLibrary::Initialise() {
    std::lock_guard<std::mutex> serial(openCloseMutex_);
    std::lock_guard<std::mutex> lock(mutex_);
    initialised_ = true;
    return AT_SUCCESS;
}

int FakeLibrary::Finalise() {
    std::lock_guard<std::mutex> serial(openCloseMutex_);
    std::vector<FakeDevice*> closing;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (!initialised_) {
            return AT_ERR_NOTINITIALISED;
        }
        for (const auto& [handle, index] : open_) {
            closing.push_back(devices_[index].get());
        }
        open_.clear();
        initialised_ = false;
    }
    // Outside mutex_: a callback under way may still call in while its device waits for it.
    for (FakeDevice* device : closing) {
        device->Close();
    }
    return AT_SUCCESS;
}

int FakeLibrary::Open(int index, AT_H* handle) {
    std::lock_guard<std::mutex> serial(openCloseMutex_);
    std::lock_guard<std::mutex> lock(mutex_);
    if (!initialised_) {
        return AT_ERR_NOTINITIALISED;
    }
    if (index < 0 || index >= deviceCount_) {
        return AT_ERR_DEVICENOTFOUND;
    }
    if (busy_.count(index)) {
        return AT_ERR_DEVICEINUSE;
    }
    if (openReturnsSystemHandle_) {
        *handle = AT_HANDLE_SYSTEM;
        return AT_SUCCESS;
    }
    const AT_H h = kFirstDeviceHandle + index;
    if (open_.count(h)) {
        return AT_ERR_DEVICEINUSE;
    }
    open_[h] = index;
    DeviceLocked(index).SetHandle(h);
    *handle = h;
    return AT_SUCCESS;
}

int FakeLibrary::Close(AT_H handle) {
    std::lock_guard<std::mutex> serial(openCloseMutex_);
    FakeDevice* device = nullptr;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (!initialised_) {
            return AT_ERR_NOTINITIALISED;
        }
        auto it = open_.find(handle);
        if (it == open_.end()) {
            return AT_ERR_INVALIDHANDLE;
        }
        device = devices_[it->second].get();
        open_.erase(it);
    }
    device->Close();
    return AT_SUCCESS;
}

void FakeLibrary::Reset() {
    std::lock_guard<std::mutex> serial(openCloseMutex_);
    std::vector<FakeDevice*> devices;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        open_.clear();
        for (auto& device : devices_) {
            devices.push_back(device.get());
        }
    }
    for (FakeDevice* device : devices) {
        device->Reset();
    }
    std::lock_guard<std::mutex> lock(mutex_);
    initialised_ = false;
    deviceCount_ = 1;
    open_.clear();
    busy_.clear();
    openReturnsSystemHandle_ = false;
    calls_.clear();
    faults_.clear();
    delays_.clear();
}

void FakeLibrary::SetDeviceCount(int count) {
    std::lock_guard<std::mutex> lock(mutex_);
    deviceCount_ = std::max(count, 0);
    if (deviceCount_ > 0) {
        DeviceLocked(deviceCount_ - 1);
    }
}

FakeDevice& FakeLibrary::Device(int index) {
    std::lock_guard<std::mutex> lock(mutex_);
    return DeviceLocked(index);
}

FakeDevice& FakeLibrary::DeviceLocked(int index) {
    while (static_cast<int>(devices_.size()) <= index) {
        devices_.push_back(std::make_unique<FakeDevice>());
    }
    return *devices_[index];
}

bool FakeLibrary::IsInitialised() {
    std::lock_guard<std::mutex> lock(mutex_);
    return initialised_;
}

int FakeLibrary::OpenDeviceCount() {
    std::lock_guard<std::mutex> lock(mutex_);
    return static_cast<int>(open_.size());
}

std::vector<fake_atcore::CallRecord> FakeLibrary::Calls() {
    std::lock_guard<std::mutex> lock(mutex_);
    return calls_;
}

double FakeLibrary::NowMs() const {
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start_)
        .count();
}

void FakeLibrary::ClearCalls() {
    std::lock_guard<std::mutex> lock(mutex_);
    calls_.clear();
}

void FakeLibrary::InjectFault(const std::string& function, int code, bool exception, int count,
                              const std::wstring& feature, int device) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (count > 0) {
        faults_.push_back({function, feature, code, exception, count, device});
    }
}

void FakeLibrary::ClearFaults() {
    std::lock_guard<std::mutex> lock(mutex_);
    faults_.clear();
}

void FakeLibrary::SetIndexBusy(int index, bool busy) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (busy) {
        busy_.insert(index);
    } else {
        busy_.erase(index);
    }
}

void FakeLibrary::SetOpenReturnsSystemHandle(bool on) {
    std::lock_guard<std::mutex> lock(mutex_);
    openReturnsSystemHandle_ = on;
}

void FakeLibrary::SetDelay(const std::string& function, int milliseconds, int device) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (milliseconds > 0) {
        delays_[{function, device}] = milliseconds;
    } else {
        delays_.erase({function, device});
    }
}
