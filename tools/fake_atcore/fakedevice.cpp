// The simulated Verove III behind the fake SDK library.
#include "fakedevice.h"

#include <algorithm>
#include <cstring>

using fake_atcore::MirrorFrame;
using fake_atcore::SequenceEvent;

namespace {

constexpr wchar_t kIsExposing[] = L"IsExposing";
// The device rejects strings and reads into buffers beyond this many characters.
constexpr std::size_t kMaxStringLength = 64;
// A running sequence never steps faster than this, so a loop of tiny times cannot spin.
constexpr double kMinStepSeconds = 0.001;

std::size_t RowBytes(int width) {
    return (static_cast<std::size_t>(width) + 7) / 8;
}

bool IsGreyEncoding(const std::wstring& encoding) {
    return encoding.find(L"BitDIP") != encoding.npos;
}

// Per-mirror brightness, 0 ... 255, of a frame in the given encoding.
std::vector<std::uint8_t> Levels(const std::wstring& encoding,
                                 const std::vector<std::uint8_t>& bytes, int width, int height) {
    std::vector<std::uint8_t> levels(static_cast<std::size_t>(width) * height, 0);
    if (encoding == L"Mono1Packed") {
        const std::size_t rowBytes = RowBytes(width);
        for (int y = 0; y < height; ++y) {
            for (int x = 0; x < width; ++x) {
                const std::uint8_t byte = bytes[y * rowBytes + x / 8];
                levels[static_cast<std::size_t>(y) * width + x] =
                    (byte >> (7 - x % 8)) & 1 ? 255 : 0;
            }
        }
    } else if (IsGreyEncoding(encoding)) {
        const int bits = encoding[0] - L'0';
        const int top = (1 << bits) - 1;
        for (std::size_t i = 0; i < levels.size(); ++i) {
            levels[i] = static_cast<std::uint8_t>(std::min<int>(bytes[i], top) * 255 / top);
        }
    } else {
        for (std::size_t i = 0; i < levels.size(); ++i) {
            levels[i] = bytes[i] ? 255 : 0;
        }
    }
    return levels;
}

}  // namespace

FakeDevice::FakeDevice() {
    Defaults();
}

FakeDevice::~FakeDevice() {
    Close();
    if (retired_.joinable()) {
        retired_.join();
    }
}

void FakeDevice::Reset() {
    Close();
    std::lock_guard<std::mutex> lock(mutex_);
    Defaults();
    wake_.notify_all();
    change_.notify_all();
}

void FakeDevice::Defaults() {
    features_.clear();
    auto boolean = [this](const wchar_t* name, bool value, bool writable) {
        Feature& f = features_[name];
        f.kind = Kind::Bool;
        f.b = value;
        f.writable = writable;
    };
    auto integer = [this](const wchar_t* name, AT_64 value, AT_64 min, AT_64 max, bool writable) {
        Feature& f = features_[name];
        f.kind = Kind::Int;
        f.i = value;
        f.imin = min;
        f.imax = max;
        f.writable = writable;
    };
    auto real = [this](const wchar_t* name, double value, double min, double max) {
        Feature& f = features_[name];
        f.kind = Kind::Float;
        f.f = value;
        f.fmin = min;
        f.fmax = max;
    };
    auto enumeration = [this](const wchar_t* name, int value, std::vector<std::wstring> options) {
        Feature& f = features_[name];
        f.kind = Kind::Enum;
        f.e = value;
        f.options = std::move(options);
    };
    auto text = [this](const wchar_t* name, const wchar_t* value) {
        Feature& f = features_[name];
        f.kind = Kind::String;
        f.s = value;
        f.writable = false;
    };
    frameCapacity_ = 256;
    eventCapacity_ = 1024;
    boolean(kIsExposing, false, false);
    boolean(L"OverlapMode", false, true);
    boolean(L"InvertMode", false, true);
    integer(L"SensorWidth", 800, 800, 800, false);
    integer(L"SensorHeight", 600, 600, 600, false);
    integer(L"ImageSizeBytes", 0, 0, 0, false);
    integer(L"FrameMemoryCount", 0, 0, 0, false);
    integer(L"SequenceEventCount", 0, 0, 0, false);
    integer(L"FrameIndex", 0, 0, 0, true);
    integer(L"FrameCount", 1, 0, 0, true);
    integer(L"FrameCycleCount", 1, 0, 65535, true);
    integer(L"SequenceStartIndex", 0, 0, 0, true);
    integer(L"SequenceLoopLength", 0, 0, 0, true);
    integer(L"SequenceLoopCount", 1, 0, 1000000, true);
    real(L"ExposureTime", 1.0, 0.00002, 3600.0);
    real(L"SequenceExposureTime", 0.1, 0.00002, 3600.0);
    real(L"GrayScaleExposureTime", 0.05, 0.0001, 10.0);
    real(L"SequenceGapTime", 0.0, 0.0, 3600.0);
    enumeration(L"TriggerMode", 0,
                {L"InternalExpose", L"InternalSoftware", L"ExternalExpose",
                 L"ExternalSequenceStart", L"ExternalBulb"});
    enumeration(L"OperationMode", 0,
                {L"Live", L"FrameMemory", L"FrameSequence", L"ContinuousFrameSequence"});
    enumeration(L"FrameIndexSource", 0, {L"Software", L"Hardware"});
    enumeration(L"GrayScaleSequenceEncoding", 2, {L"4BitDIP", L"6BitDIP", L"8BitDIP"});
    enumeration(L"PixelEncoding", 0, {L"Mono1", L"Mono1Packed"});
    text(L"DeviceType", L"Verove III");
    text(L"SerialNumber", L"V3-0042");
    text(L"FirmwareVersion", L"2.1.7");
    text(L"ControllerFirmwareVersion", L"1.3.0");

    buffer_ = nullptr;
    bufferSize_ = 0;
    frames_.clear();
    events_.clear();
    callbacks_.clear();
    shown_ = MirrorFrame();
    run_ = Run::Idle;
    steps_.clear();
    waitingTrigger_ = false;
    triggers_ = 0;
    pendingNotifications_ = 0;
    handle_ = AT_HANDLE_UNINITIALISED;
    UpdateDerived();
}

void FakeDevice::SetHandle(AT_H handle) {
    std::lock_guard<std::mutex> lock(mutex_);
    handle_ = handle;
}

void FakeDevice::Close() {
    std::thread worker;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        run_ = Run::Idle;
        features_[kIsExposing].b = false;
        callbacks_.clear();
        pendingNotifications_ = 0;
        buffer_ = nullptr;
        bufferSize_ = 0;
        handle_ = AT_HANDLE_UNINITIALISED;
        ++generation_;
        worker = std::move(worker_);
        wake_.notify_all();
        change_.notify_all();
    }
    EndWorker(std::move(worker));
}

void FakeDevice::EndWorker(std::thread worker) {
    const std::thread::id self = std::this_thread::get_id();
    if (retired_.joinable() && retired_.get_id() != self) {
        retired_.join();
    }
    if (!worker.joinable()) {
        return;
    }
    if (worker.get_id() == self) {
        retired_ = std::move(worker);  // ends when its callback returns
    } else {
        worker.join();
    }
}

void FakeDevice::SetSensorSize(int width, int height) {
    std::lock_guard<std::mutex> lock(mutex_);
    for (auto [name, value] :
         {std::pair{L"SensorWidth", width}, std::pair{L"SensorHeight", height}}) {
        Feature& f = features_[name];
        f.i = f.imin = f.imax = value;
    }
    UpdateDerived();
}

void FakeDevice::SetReadOnlyString(const std::wstring& feature, const std::wstring& value) {
    std::lock_guard<std::mutex> lock(mutex_);
    Feature& f = features_[feature];
    f.kind = Kind::String;
    f.writable = false;
    f.s = value;
}

void FakeDevice::SetMemoryCapacity(int frames, int events) {
    std::lock_guard<std::mutex> lock(mutex_);
    frameCapacity_ = static_cast<std::size_t>(std::max(frames, 0));
    eventCapacity_ = static_cast<std::size_t>(std::max(events, 0));
    UpdateDerived();
}

FakeDevice::Feature* FakeDevice::Find(const std::wstring& name, Kind kind, int* error) {
    auto it = features_.find(name);
    if (it == features_.end() || it->second.kind != kind) {
        *error = AT_ERR_NOTIMPLEMENTED;
        return nullptr;
    }
    *error = AT_SUCCESS;
    return &it->second;
}

std::wstring FakeDevice::EnumText(const wchar_t* name) {
    const Feature& f = features_[name];
    return f.options[f.e];
}

// Read-only counts and sizes follow the state they describe; index ranges follow the memories.
void FakeDevice::UpdateDerived() {
    const AT_64 width = Int(L"SensorWidth"), height = Int(L"SensorHeight");
    features_[L"ImageSizeBytes"].i = EnumText(L"PixelEncoding") == L"Mono1Packed"
                                         ? static_cast<AT_64>(RowBytes(width)) * height
                                         : width * height;
    features_[L"FrameMemoryCount"].i = static_cast<AT_64>(frames_.size());
    features_[L"SequenceEventCount"].i = static_cast<AT_64>(events_.size());
    const AT_64 frames = static_cast<AT_64>(frameCapacity_),
                events = static_cast<AT_64>(eventCapacity_);
    features_[L"FrameIndex"].imax = std::max<AT_64>(frames - 1, 0);
    features_[L"FrameCount"].imax = frames;
    features_[L"SequenceStartIndex"].imax = std::max<AT_64>(events - 1, 0);
    features_[L"SequenceLoopLength"].imax = events;
}

int FakeDevice::GetInt(const std::wstring& feature, AT_64* value) {
    std::lock_guard<std::mutex> lock(mutex_);
    int error;
    Feature* f = Find(feature, Kind::Int, &error);
    if (f) {
        *value = f->i;
    }
    return error;
}

int FakeDevice::SetInt(const std::wstring& feature, AT_64 value) {
    std::lock_guard<std::mutex> lock(mutex_);
    int error;
    Feature* f = Find(feature, Kind::Int, &error);
    if (!f) {
        return error;
    }
    if (!f->writable) {
        return AT_ERR_READONLY;
    }
    if (value < f->imin || value > f->imax) {
        return AT_ERR_OUTOFRANGE;
    }
    f->i = value;
    return AT_SUCCESS;
}

int FakeDevice::GetFloat(const std::wstring& feature, double* value) {
    std::lock_guard<std::mutex> lock(mutex_);
    int error;
    Feature* f = Find(feature, Kind::Float, &error);
    if (f) {
        *value = f->f;
    }
    return error;
}

int FakeDevice::GetFloatMin(const std::wstring& feature, double* value) {
    std::lock_guard<std::mutex> lock(mutex_);
    int error;
    Feature* f = Find(feature, Kind::Float, &error);
    if (f) {
        *value = f->fmin;
    }
    return error;
}

int FakeDevice::GetFloatMax(const std::wstring& feature, double* value) {
    std::lock_guard<std::mutex> lock(mutex_);
    int error;
    Feature* f = Find(feature, Kind::Float, &error);
    if (f) {
        *value = f->fmax;
    }
    return error;
}

int FakeDevice::SetFloat(const std::wstring& feature, double value) {
    std::lock_guard<std::mutex> lock(mutex_);
    int error;
    Feature* f = Find(feature, Kind::Float, &error);
    if (!f) {
        return error;
    }
    // Written this way round so that NaN is out of range too.
    if (!(value >= f->fmin && value <= f->fmax)) {
        return AT_ERR_OUTOFRANGE;
    }
    f->f = value;
    return AT_SUCCESS;
}

int FakeDevice::GetBool(const std::wstring& feature, bool* value) {
    std::lock_guard<std::mutex> lock(mutex_);
    int error;
    Feature* f = Find(feature, Kind::Bool, &error);
    if (f) {
        *value = f->b;
    }
    return error;
}

int FakeDevice::SetBool(const std::wstring& feature, bool value) {
    std::lock_guard<std::mutex> lock(mutex_);
    int error;
    Feature* f = Find(feature, Kind::Bool, &error);
    if (!f) {
        return error;
    }
    if (!f->writable) {
        return AT_ERR_READONLY;
    }
    f->b = value;
    return AT_SUCCESS;
}

int FakeDevice::GetEnumIndex(const std::wstring& feature, int* value) {
    std::lock_guard<std::mutex> lock(mutex_);
    int error;
    Feature* f = Find(feature, Kind::Enum, &error);
    if (f) {
        *value = f->e;
    }
    return error;
}

int FakeDevice::SetEnumIndex(const std::wstring& feature, int value) {
    std::lock_guard<std::mutex> lock(mutex_);
    int error;
    Feature* f = Find(feature, Kind::Enum, &error);
    if (!f) {
        return error;
    }
    if (value < 0 || value >= static_cast<int>(f->options.size())) {
        return AT_ERR_OUTOFRANGE;
    }
    f->e = value;
    UpdateDerived();
    return AT_SUCCESS;
}

int FakeDevice::SetEnumString(const std::wstring& feature, const std::wstring& value) {
    std::lock_guard<std::mutex> lock(mutex_);
    int error;
    Feature* f = Find(feature, Kind::Enum, &error);
    if (!f) {
        return error;
    }
    auto it = std::find(f->options.begin(), f->options.end(), value);
    if (it == f->options.end()) {
        return AT_ERR_INDEXNOTAVAILABLE;
    }
    f->e = static_cast<int>(it - f->options.begin());
    UpdateDerived();
    return AT_SUCCESS;
}

int FakeDevice::GetEnumCount(const std::wstring& feature, int* count) {
    std::lock_guard<std::mutex> lock(mutex_);
    int error;
    Feature* f = Find(feature, Kind::Enum, &error);
    if (f) {
        *count = static_cast<int>(f->options.size());
    }
    return error;
}

int FakeDevice::GetEnumString(const std::wstring& feature, int index, std::wstring* text) {
    std::lock_guard<std::mutex> lock(mutex_);
    int error;
    Feature* f = Find(feature, Kind::Enum, &error);
    if (!f) {
        return error;
    }
    if (index < 0 || index >= static_cast<int>(f->options.size())) {
        return AT_ERR_OUTOFRANGE;
    }
    *text = f->options[index];
    return AT_SUCCESS;
}

int FakeDevice::GetString(const std::wstring& feature, std::wstring* text) {
    std::lock_guard<std::mutex> lock(mutex_);
    int error;
    Feature* f = Find(feature, Kind::String, &error);
    if (f) {
        *text = f->s.substr(0, kMaxStringLength);
    }
    return error;
}

int FakeDevice::SetString(const std::wstring& feature, const std::wstring& text) {
    std::lock_guard<std::mutex> lock(mutex_);
    int error;
    Feature* f = Find(feature, Kind::String, &error);
    if (!f) {
        return error;
    }
    if (!f->writable) {
        return AT_ERR_READONLY;
    }
    if (text.size() > kMaxStringLength) {
        return AT_ERR_EXCEEDEDMAXSTRINGLENGTH;
    }
    f->s = text;
    return AT_SUCCESS;
}

int FakeDevice::Command(const std::wstring& feature) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (feature == L"Expose") {
        return Expose();
    }
    if (feature == L"Abort") {
        return Abort();
    }
    if (feature == L"UploadFrame") {
        return UploadFrame();
    }
    if (feature == L"UploadGrayScaleImage") {
        return UploadGrayScaleImage();
    }
    if (feature == L"UploadSequenceEvent") {
        return UploadSequenceEvent();
    }
    if (feature == L"ClearFrameMemory") {
        frames_.clear();
        UpdateDerived();
        return AT_SUCCESS;
    }
    if (feature == L"ClearSequenceMemory") {
        events_.clear();
        UpdateDerived();
        return AT_SUCCESS;
    }
    return AT_ERR_NOTIMPLEMENTED;
}

int FakeDevice::QueueBuffer(AT_U8* buffer, int size) {
    std::lock_guard<std::mutex> lock(mutex_);
    buffer_ = buffer;
    bufferSize_ = static_cast<std::size_t>(size);
    return AT_SUCCESS;
}

int FakeDevice::Flush() {
    std::lock_guard<std::mutex> lock(mutex_);
    buffer_ = nullptr;
    bufferSize_ = 0;
    return AT_SUCCESS;
}

int FakeDevice::RegisterCallback(const std::wstring& feature, FeatureCallback callback,
                                 void* context) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!features_.count(feature)) {
        return AT_ERR_NOTIMPLEMENTED;
    }
    callbacks_.push_back({feature, callback, context});
    return AT_SUCCESS;
}

int FakeDevice::UnregisterCallback(const std::wstring& feature, FeatureCallback callback,
                                   void* context) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!features_.count(feature)) {
        return AT_ERR_NOTIMPLEMENTED;
    }
    std::erase_if(callbacks_, [&](const Callback& c) {
        return c.feature == feature && c.function == callback && c.context == context;
    });
    return AT_SUCCESS;
}

// The queued buffer must hold a whole frame of the current encoding.
int FakeDevice::CheckBuffer(std::size_t needed) {
    if (!buffer_) {
        return AT_ERR_NODATA;
    }
    return bufferSize_ < needed ? AT_ERR_INVALIDSIZE : AT_SUCCESS;
}

int FakeDevice::Expose() {
    const std::wstring mode = EnumText(L"OperationMode");
    const std::wstring trigger = EnumText(L"TriggerMode");
    const bool external = trigger.rfind(L"External", 0) == 0;
    if (mode == L"Live" || mode == L"FrameMemory") {
        if (mode == L"Live") {
            const std::size_t size = static_cast<std::size_t>(Int(L"ImageSizeBytes"));
            if (int error = CheckBuffer(size)) {
                return error;
            }
            MirrorFrame frame;
            frame.width = static_cast<int>(Int(L"SensorWidth"));
            frame.height = static_cast<int>(Int(L"SensorHeight"));
            frame.encoding = EnumText(L"PixelEncoding");
            frame.bytes.assign(buffer_, buffer_ + size);
            frame.levels = Levels(frame.encoding, frame.bytes, frame.width, frame.height);
            Show(frame, -1);
        } else {
            const AT_64 index = Int(L"FrameIndex");
            if (index >= static_cast<AT_64>(frames_.size())) {
                return AT_ERR_NODATA;
            }
            ShowStored(static_cast<int>(index));
        }
        // A timed exposure ends by itself; software and external triggers hold until Abort.
        run_ = trigger == L"InternalExpose" ? Run::Timed : Run::Held;
        deadline_ = Clock::now() + std::chrono::duration_cast<Clock::duration>(
                                       std::chrono::duration<double>(Float(L"ExposureTime")));
        SetExposing(true);
        // Already exposing, SetExposing reports nothing: the worker must still time this one.
        wake_.notify_all();
        return AT_SUCCESS;
    }

    const std::size_t start = static_cast<std::size_t>(Int(L"SequenceStartIndex"));
    std::size_t length = static_cast<std::size_t>(Int(L"SequenceLoopLength"));
    if (length == 0 && start < events_.size()) {
        length = events_.size() - start;
    }
    if (length == 0 || start + length > events_.size()) {
        return AT_ERR_NODATA;
    }
    steps_.clear();
    for (std::size_t e = start; e < start + length; ++e) {
        const SequenceEvent& event = events_[e];
        // "ExternalSequenceStart" waits for one trigger; the other external modes for one per
        // event.
        bool awaitTrigger = external && (trigger != L"ExternalSequenceStart" || e == start);
        for (AT_64 cycle = 0; cycle < std::max<AT_64>(event.frameCycleCount, 1); ++cycle) {
            for (AT_64 f = 0; f < std::max<AT_64>(event.frameCount, 1); ++f) {
                steps_.push_back(
                    {static_cast<int>(event.frameIndex + f), event.exposureTime, awaitTrigger});
                awaitTrigger = false;
            }
        }
        if (event.gapTime > 0) {
            steps_.push_back({-1, event.gapTime, false});
        }
    }
    loopsLeft_ = mode == L"ContinuousFrameSequence"
                     ? -1
                     : static_cast<int>(std::max<AT_64>(Int(L"SequenceLoopCount"), 1));
    run_ = Run::Sequence;
    step_ = 0;
    triggers_ = 0;
    SetExposing(true);
    StartStep();
    return AT_SUCCESS;
}

int FakeDevice::Abort() {
    run_ = Run::Idle;
    waitingTrigger_ = false;
    triggers_ = 0;
    SetExposing(false);
    return AT_SUCCESS;
}

int FakeDevice::UploadFrame() {
    const std::size_t size = static_cast<std::size_t>(Int(L"ImageSizeBytes"));
    if (int error = CheckBuffer(size)) {
        return error;
    }
    if (frames_.size() >= frameCapacity_) {
        return AT_ERR_BUFFERFULL;
    }
    StoredFrame stored;
    MirrorFrame& frame = stored.frame;
    frame.width = static_cast<int>(Int(L"SensorWidth"));
    frame.height = static_cast<int>(Int(L"SensorHeight"));
    frame.encoding = EnumText(L"PixelEncoding");
    frame.bytes.assign(buffer_, buffer_ + size);
    frame.levels = Levels(frame.encoding, frame.bytes, frame.width, frame.height);
    frame.frameIndex = static_cast<int>(frames_.size());
    frames_.push_back(std::move(stored));
    UpdateDerived();
    return AT_SUCCESS;
}

// The device splits a grey-scale image into bit planes in frame memory, and adds one sequence
// event per plane, so that a loop over those events shows the image.
int FakeDevice::UploadGrayScaleImage() {
    const int width = static_cast<int>(Int(L"SensorWidth"));
    const int height = static_cast<int>(Int(L"SensorHeight"));
    const std::size_t mirrors = static_cast<std::size_t>(width) * height;
    if (int error = CheckBuffer(mirrors)) {
        return error;
    }
    const std::wstring encoding = EnumText(L"GrayScaleSequenceEncoding");
    const int bits = encoding[0] - L'0';
    if (frames_.size() + bits > frameCapacity_ || events_.size() + bits > eventCapacity_) {
        return AT_ERR_BUFFERFULL;
    }
    auto grey = std::make_shared<MirrorFrame>();
    grey->width = width;
    grey->height = height;
    grey->encoding = encoding;
    grey->bytes.assign(buffer_, buffer_ + mirrors);
    grey->levels = Levels(encoding, grey->bytes, width, height);
    const std::size_t rowBytes = RowBytes(width);
    for (int bit = 0; bit < bits; ++bit) {
        StoredFrame stored;
        MirrorFrame& plane = stored.frame;
        plane.width = width;
        plane.height = height;
        plane.encoding = L"Mono1Packed";
        plane.bytes.assign(rowBytes * height, 0);
        for (int y = 0; y < height; ++y) {
            for (int x = 0; x < width; ++x) {
                if ((grey->bytes[static_cast<std::size_t>(y) * width + x] >> bit) & 1) {
                    plane.bytes[y * rowBytes + x / 8] |= static_cast<std::uint8_t>(0x80 >> (x % 8));
                }
            }
        }
        plane.levels = Levels(plane.encoding, plane.bytes, width, height);
        plane.frameIndex = static_cast<int>(frames_.size());
        stored.grey = grey;
        events_.push_back({plane.frameIndex, 1, 1, Float(L"GrayScaleExposureTime"), 0.0});
        frames_.push_back(std::move(stored));
    }
    grey->frameIndex = frames_.back().frame.frameIndex - bits + 1;
    UpdateDerived();
    return AT_SUCCESS;
}

int FakeDevice::UploadSequenceEvent() {
    if (events_.size() >= eventCapacity_) {
        return AT_ERR_BUFFERFULL;
    }
    const AT_64 first = Int(L"FrameIndex");
    const AT_64 count = std::max<AT_64>(Int(L"FrameCount"), 1);
    if (first + count > static_cast<AT_64>(frames_.size())) {
        return AT_ERR_OUTOFRANGE;
    }
    events_.push_back({first, Int(L"FrameCount"), Int(L"FrameCycleCount"),
                       Float(L"SequenceExposureTime"), Float(L"SequenceGapTime")});
    UpdateDerived();
    return AT_SUCCESS;
}

// Each change is reported to the callbacks from the device's own thread.
void FakeDevice::SetExposing(bool on) {
    Feature& f = features_[kIsExposing];
    if (f.b == on) {
        return;
    }
    f.b = on;
    if (!on) {
        run_ = Run::Idle;
    }
    ++pendingNotifications_;
    EnsureWorker();
    wake_.notify_all();
    change_.notify_all();
}

void FakeDevice::Show(const MirrorFrame& frame, int frameIndex) {
    const std::uint64_t counter = shown_.counter + 1;
    shown_ = frame;
    shown_.frameIndex = frameIndex;
    shown_.counter = counter;
    if (features_[L"InvertMode"].b) {
        for (std::uint8_t& level : shown_.levels) {
            level = static_cast<std::uint8_t>(255 - level);
        }
    }
    change_.notify_all();
}

void FakeDevice::ShowStored(int frameIndex) {
    if (frameIndex < 0 || frameIndex >= static_cast<int>(frames_.size())) {
        MirrorFrame dark;
        dark.width = static_cast<int>(Int(L"SensorWidth"));
        dark.height = static_cast<int>(Int(L"SensorHeight"));
        dark.encoding = EnumText(L"PixelEncoding");
        dark.levels.assign(static_cast<std::size_t>(dark.width) * dark.height, 0);
        Show(dark, -1);
        return;
    }
    const StoredFrame& stored = frames_[frameIndex];
    Show(stored.grey ? *stored.grey : stored.frame, frameIndex);
}

// Shows the current step of the running sequence, or waits for its trigger first.
void FakeDevice::StartStep() {
    const Step& step = steps_[step_];
    if (step.awaitTrigger) {
        if (triggers_ == 0) {
            waitingTrigger_ = true;
            return;
        }
        --triggers_;
    }
    waitingTrigger_ = false;
    ShowStored(step.frame);
    deadline_ =
        Clock::now() + std::chrono::duration_cast<Clock::duration>(
                           std::chrono::duration<double>(std::max(step.seconds, kMinStepSeconds)));
    wake_.notify_all();
}

// The current step's time is up: next step, next loop, or the end of the exposure.
void FakeDevice::Advance() {
    if (run_ == Run::Timed) {
        SetExposing(false);
        return;
    }
    if (++step_ == steps_.size()) {
        step_ = 0;
        if (loopsLeft_ > 0 && --loopsLeft_ == 0) {
            SetExposing(false);
            return;
        }
    }
    StartStep();
}

void FakeDevice::Trigger() {
    std::lock_guard<std::mutex> lock(mutex_);
    if (run_ != Run::Sequence) {
        return;
    }
    ++triggers_;
    if (waitingTrigger_) {
        StartStep();
    }
}

void FakeDevice::EnsureWorker() {
    if (!worker_.joinable()) {
        worker_ = std::thread(&FakeDevice::Worker, this, generation_);
    }
}

void FakeDevice::Worker(std::uint64_t generation) {
    std::unique_lock<std::mutex> lock(mutex_);
    while (generation_ == generation) {
        if (pendingNotifications_ > 0) {
            --pendingNotifications_;
            std::vector<Callback> callbacks;
            for (const Callback& c : callbacks_) {
                if (c.feature == kIsExposing) {
                    callbacks.push_back(c);
                }
            }
            const AT_H handle = handle_;
            delivering_ = true;
            lock.unlock();
            for (const Callback& c : callbacks) {
                try {
                    c.function(handle, kIsExposing, c.context);
                } catch (...) {
                    // A throwing callback must not end the device's thread.
                }
            }
            lock.lock();
            delivering_ = false;
            change_.notify_all();
            continue;
        }
        const bool timing = run_ == Run::Timed || (run_ == Run::Sequence && !waitingTrigger_);
        if (!timing) {
            wake_.wait(lock);
        } else if (Clock::now() >= deadline_) {
            Advance();
        } else {
            wake_.wait_until(lock, deadline_);
        }
    }
}

MirrorFrame FakeDevice::Shown() {
    std::lock_guard<std::mutex> lock(mutex_);
    MirrorFrame frame = shown_;
    frame.exposing = features_[kIsExposing].b;
    return frame;
}

std::vector<MirrorFrame> FakeDevice::Frames() {
    std::lock_guard<std::mutex> lock(mutex_);
    std::vector<MirrorFrame> frames;
    for (const StoredFrame& stored : frames_) {
        frames.push_back(stored.frame);
    }
    return frames;
}

std::vector<SequenceEvent> FakeDevice::Events() {
    std::lock_guard<std::mutex> lock(mutex_);
    return events_;
}

bool FakeDevice::WaitForExposureEnd(int timeoutMs) {
    std::unique_lock<std::mutex> lock(mutex_);
    return change_.wait_for(lock, std::chrono::milliseconds(timeoutMs), [this] {
        return !features_[kIsExposing].b && pendingNotifications_ == 0 && !delivering_;
    });
}

bool FakeDevice::WaitForFrameCounter(std::uint64_t counter, int timeoutMs) {
    std::unique_lock<std::mutex> lock(mutex_);
    return change_.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                            [&] { return shown_.counter >= counter; });
}
