// The device's operation modes and the illumination sequence: the patterns prepared for it, their
// upload when the sequence mode begins and the return to live patterns when it ends.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <vector>

#include "cztverovedriver.h"
#include "patterns.h"
#include "zt/zt_export.h"

class CZtStimulationDeviceVerove;

// Thread-bound to the host's main thread, except GetOperationMode, which stimulations read on
// host work threads. The pool is read under the driver's buffer lock when a pattern is looked up.
class CZtVeroveIlluminationSequence {
public:
    // Operation modes of the DMD interface.
    static constexpr std::int32_t kOperationModeNormal = 0;
    static constexpr std::int32_t kOperationModeSequence = 5;
    // GetPatternName and the camera projection reach the sequence patterns from this identifier on.
    static constexpr ZT_DWORD kFirstSequencePatternId = 10000;

    // device is borrowed: it owns the sequence.
    explicit CZtVeroveIlluminationSequence(CZtStimulationDeviceVerove& device) : m_device(device) {}
    CZtVeroveIlluminationSequence(const CZtVeroveIlluminationSequence&) = delete;
    CZtVeroveIlluminationSequence& operator=(const CZtVeroveIlluminationSequence&) = delete;

    int SetOperationMode(std::int32_t mode);
    std::int32_t GetOperationMode() const { return m_operationMode; }
    int GetIlluminationSequenceState(std::int32_t* state);
    int SetIlluminationSequence(const void* sequence);
    int GenerateGridAppendToISPool(int columns, int rows);
    // The patterns SetIlluminationSequence prepared for the next illumination sequence.
    int GetSequencePoolSize() const { return static_cast<int>(m_sequencePool.size()); }
    // A pattern of the store, or from 10000 on of the sequence pool; the caller holds the driver's
    // buffer lock.
    const CZtPattern* FindPattern(CZtVeroveDriver* driver, ZT_DWORD id);

private:
    int EnterIlluminationSequence(CZtVeroveDriver* driver);
    void LeaveIlluminationSequence(CZtVeroveDriver* driver);

    CZtStimulationDeviceVerove& m_device;
    std::atomic<std::int32_t> m_operationMode{0};  // read by stimulations on work threads
    std::int32_t m_previousOperationMode = 0;
    // What SetIlluminationSequence prepared, and the pattern and depth to return to afterwards.
    std::vector<std::unique_ptr<CZtPattern>> m_sequencePool;
    std::vector<SZtVeroveSequenceEvent> m_sequenceEvents;
    std::int32_t m_sequenceRepeatCount = 0;
    int m_sequenceReturnPatternId = 0;
    std::int32_t m_sequenceReturnBitDepth = 1;
};
