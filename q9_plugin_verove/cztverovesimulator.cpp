// The simulated Verove III behind the SDK proxy.
#include "cztverovesimulator.h"

#include <cmath>

#include "verove_log.h"
#include "verovestatus.h"

namespace {

// Milliseconds to wait for a simulated exposure of the given length in seconds.
ZT_DWORD ExposureTimeout(double seconds) {
    const double ms = std::trunc(seconds * 1000.0);
    if (!(ms > 0.0)) {
        return 0;
    }
    return ms >= static_cast<double>(ZT_INFINITE) ? ZT_INFINITE - 1 : static_cast<ZT_DWORD>(ms);
}

}  // namespace

CZtVeroveSimulator::CZtVeroveSimulator(int handle, CZtVeroveHandleLocks& handleLocks,
                                       EventSink fireEvent)
    : m_handle(handle), m_handleLocks(handleLocks), m_fireEvent(fireEvent) {
    for (const wchar_t* feature : {L"IsExposing", L"OverlapMode", L"InvertMode"}) {
        m_bool[feature] = false;
    }
    for (const wchar_t* feature :
         {L"FrameMemoryCount", L"SequenceEventCount", L"FrameIndex", L"SequenceStartIndex",
          L"FrameCount", L"FrameCycleCount", L"SequenceLoopCount", L"SequenceLoopLength"}) {
        m_int[feature] = 0;
    }
    m_int[L"DeviceCount"] = 1;
    m_int[L"SensorWidth"] = 800;
    m_int[L"SensorHeight"] = 600;
    m_int[L"ImageSizeBytes"] = 480000;
    for (const wchar_t* feature :
         {L"ExposureTime", L"SequenceExposureTime", L"GrayScaleExposureTime", L"SequenceGapTime"}) {
        m_float[feature] = 0.0;
    }
    m_string[L"FirmwareVersion"] = L"Simulator";
    m_string[L"SerialNumber"] = L"1234567890";
    m_string[L"SoftwareVersion"] = L"1234567890";
    m_string[L"DeviceType"] = L"Verove III";
    for (const wchar_t* feature :
         {L"TriggerMode", L"FrameIndexSource", L"OperationMode", L"PixelEncoding"}) {
        m_enum[feature] = 0;
    }
    m_enum[L"GrayScaleSequenceEncoding"] = 2;
    m_enumValues = {
        {L"InternalExpose", 0},
        {L"InternalSoftware", 1},
        {L"ExternalExpose", 2},
        {L"ExternalSequenceStart", 3},
        {L"ExternalBulb", 4},
        {L"Live", 0},
        {L"FrameMemory", 1},
        {L"FrameSequence", 2},
        {L"ContinuousFrameSequence", 3},
        {L"Software", 0},
        {L"Hardware", 1},
        {L"4BitDIP", 0},
        {L"6BitDIP", 1},
        {L"8BitDIP", 2},
        {L"Mono1", 0},
        {L"Mono1Packed", 1},
    };
}

CZtVeroveSimulator::~CZtVeroveSimulator() {
    Stop();
    std::lock_guard<std::mutex> guard(m_threadMutex);
    if (m_retired.joinable()) {
        m_retired.join();
    }
}

int CZtVeroveSimulator::Expose() {
    bool wasExposing = false;
    bool internalTrigger = false;
    {
        const std::shared_ptr<void> lock = m_handleLocks.Lock(m_handle);
        if (!lock) {
            return VeroveStatus::kFailed;  // closed meanwhile
        }
        bool& exposing = m_bool[L"IsExposing"];
        wasExposing = exposing;
        exposing = true;
        internalTrigger = m_enum[L"TriggerMode"] == 0;
    }
    if (!wasExposing) {
        m_fireEvent(m_handle, L"IsExposing");
    }
    if (internalTrigger) {
        m_abortPending = false;
        m_event.Set();
    }
    return 0;
}

void CZtVeroveSimulator::Abort() {
    // The event is reported under the handle's lock; the lock is re-entrant, so the receiver may
    // read through the proxy.
    const std::shared_ptr<void> lock = m_handleLocks.Lock(m_handle);
    bool* exposing = lock ? &m_bool[L"IsExposing"] : nullptr;
    if (exposing && *exposing) {
        *exposing = false;
        const bool internalTrigger = m_enum[L"TriggerMode"] == 0;
        m_fireEvent(m_handle, L"IsExposing");
        if (internalTrigger) {
            m_abortPending = true;
            m_event.Set();
        }
    }
}

bool CZtVeroveSimulator::Start() {
    std::lock_guard<std::mutex> guard(m_threadMutex);
    if (m_thread.joinable()) {
        return true;
    }
    JoinRetired();
    // A stop signal the previous thread left unconsumed must not start a phantom exposure.
    m_event.Reset();
    m_abortPending = false;
    const std::uint64_t generation = ++m_generation;
    try {
        m_thread = std::thread(&CZtVeroveSimulator::Run, this, generation);
    } catch (...) {
        ++m_generation;
        VEROVE_LOG("CZtVeroveProxy::StartSimulator", L"Error: the simulator thread did not start");
        return false;
    }
    return true;
}

void CZtVeroveSimulator::Stop() {
    std::lock_guard<std::mutex> guard(m_threadMutex);
    JoinRetired();
    if (!m_thread.joinable()) {
        return;
    }
    ++m_generation;
    m_event.Set();
    if (m_thread.get_id() == std::this_thread::get_id()) {
        // Stopped from its own event callback: the thread ends when the callback returns.
        m_retired = std::move(m_thread);
    } else {
        m_thread.join();
    }
}

void CZtVeroveSimulator::JoinRetired() {
    if (m_retired.joinable() && m_retired.get_id() != std::this_thread::get_id()) {
        m_retired.join();
    }
}

void CZtVeroveSimulator::Run(std::uint64_t generation) {
    const auto running = [this, generation] { return m_generation.load() == generation; };
    ZT_DWORD timeout = ZT_INFINITE;
    while (running()) {
        const ZT_DWORD wait = m_event.Wait(timeout);
        if (!running()) {
            break;
        }
        bool wasExposing = false;
        {
            const std::shared_ptr<void> lock = m_handleLocks.Lock(m_handle);
            if (!lock) {
                timeout = ZT_INFINITE;  // being closed: the stop follows
                continue;
            }
            if (wait == ZT_WAIT_OBJECT_0) {
                timeout = m_abortPending.exchange(false)
                              ? ZT_INFINITE
                              : ExposureTimeout(m_float[L"ExposureTime"]);
                continue;
            }
            bool& exposing = m_bool[L"IsExposing"];
            wasExposing = exposing;
            exposing = false;
        }
        timeout = ZT_INFINITE;
        if (wasExposing) {
            m_fireEvent(m_handle, L"IsExposing");
        }
    }
}
