// The operation modes and the illumination sequence of the device.
#include "cztveroveilluminationsequence.h"

#include <algorithm>
#include <cstring>

#include "cztstimulationdeviceverove.h"
#include "verove_log.h"
#include "verovestatus.h"

const CZtPattern* CZtVeroveIlluminationSequence::FindPattern(CZtVeroveDriver* driver, ZT_DWORD id) {
    // Identifiers from 10000 on name the patterns prepared for an illumination sequence.
    if (id >= kFirstSequencePatternId) {
        const size_t index = id - kFirstSequencePatternId;
        return index < m_sequencePool.size() ? m_sequencePool[index].get() : nullptr;
    }
    return driver->GetPatterns().FindById(id);
}

int CZtVeroveIlluminationSequence::SetOperationMode(std::int32_t mode) {
    const char* function = "CZtStimulationDeviceVerove::SetOperationMode";
    VEROVE_LOG(function, L"Start");
    CZtVeroveDriver* driver = m_device.GetDriver();
    if (mode == kOperationModeSequence &&
        (m_operationMode == kOperationModeNormal || m_operationMode == 6)) {
        if (!driver) {
            VEROVE_LOG(function, L"No driver.");
            return VeroveStatus::kDmdFailed;
        }
        const int result = EnterIlluminationSequence(driver);
        if (result != 0) {
            return result;
        }
    } else if (mode == kOperationModeNormal && m_operationMode != kOperationModeNormal && driver) {
        LeaveIlluminationSequence(driver);
    }
    m_previousOperationMode = m_operationMode;
    m_operationMode = mode;
    if (mode == kOperationModeNormal && m_previousOperationMode == kOperationModeSequence) {
        m_sequencePool.clear();
        // Changes of the light path that waited for the sequence are handled now.
        m_device.m_hostEvents.ReplaySequenceDeviceChanges();
    }
    VEROVE_LOG(function, L"End - mode %d", mode);
    return 0;
}

int CZtVeroveIlluminationSequence::EnterIlluminationSequence(CZtVeroveDriver* driver) {
    m_device.m_hostEvents.ClearSequenceDeviceChanges();
    driver->ExposePattern(0, false);
    m_device.SetBitDepth(1, false);
    std::vector<CZtPattern*> patterns;
    for (const std::unique_ptr<CZtPattern>& pattern : m_sequencePool) {
        patterns.push_back(pattern.get());
    }
    int result = 0;
    {
        CZtLock lock(driver->GetBufferLock());
        result =
            driver->ProgramIlluminationSequence(patterns, m_sequenceEvents, m_sequenceRepeatCount);
    }
    if (result == 0) {
        return 0;
    }
    VEROVE_LOG("CZtStimulationDeviceVerove::SetOperationMode", L"Failed to upload pattern.");
    // Back to live single patterns, dark: a half-programmed sequence must never run.
    driver->LeaveIlluminationSequence();
    m_device.SetBitDepth(m_sequenceReturnBitDepth, false);
    driver->ExposePattern(0, true);
    return VeroveStatus::kDmdFailed;
}

void CZtVeroveIlluminationSequence::LeaveIlluminationSequence(CZtVeroveDriver* driver) {
    driver->LeaveIlluminationSequence();
    m_device.SetBitDepth(m_sequenceReturnBitDepth, false);
    driver->ExposePattern(m_sequenceReturnPatternId, true);
}

int CZtVeroveIlluminationSequence::GetIlluminationSequenceState(std::int32_t* state) {
    if (!state) {
        return VeroveStatus::kDmdNullOutput;
    }
    *state = m_operationMode;
    return 0;
}

// Each step becomes one sequence event showing one frame; a pattern used by several steps is
// uploaded once, at the place of its first use.
int CZtVeroveIlluminationSequence::SetIlluminationSequence(const void* sequence) {
    const char* function = "CZtStimulationDeviceVerove::SetIlluminationSequence";
    VEROVE_LOG(function, L"Start");
    CZtVeroveDriver* driver = m_device.GetDriver();
    if (!driver) {
        VEROVE_LOG(function, L"No driver.");
        return VeroveStatus::kDmdFailed;
    }
    if (!m_device.m_settings.externalTriggerSet) {
        VEROVE_LOG(function, L"External triggering not enabled.");
        return VeroveStatus::kDmdFailed;
    }
    if (!sequence) {
        VEROVE_LOG(function, L"Invalid illumination sequence.");
        return VeroveStatus::kDmdFailed;
    }
    const auto& steps = *static_cast<const SZtIlluminationSequence*>(sequence);
    std::vector<std::unique_ptr<CZtPattern>> pool;
    std::vector<ZT_DWORD> poolIds;
    std::vector<SZtVeroveSequenceEvent> events;
    {
        CZtLock lock(driver->GetBufferLock());
        for (const SZtIlluminationSequenceStep& step : steps.steps) {
            auto used = std::find(poolIds.begin(), poolIds.end(), step.patternId);
            if (used == poolIds.end()) {
                const CZtPattern* pattern = FindPattern(driver, step.patternId);
                if (!pattern) {
                    VEROVE_LOG(function, L"Pattern %u not found.", step.patternId);
                    return VeroveStatus::kDmdFailed;
                }
                pool.push_back(std::make_unique<CZtPattern>(*pattern));
                poolIds.push_back(step.patternId);
                used = poolIds.end() - 1;
            }
            SZtVeroveSequenceEvent event;
            event.frameIndex = static_cast<std::int32_t>(used - poolIds.begin());
            event.frameCount = 1;
            event.frameCycleCount = step.frameCycleCount;
            event.exposureTime = step.exposureMs / 1000.0;
            event.gapTime = step.gapMs / 1000.0;
            events.push_back(event);
        }
        m_sequenceReturnPatternId = driver->GetPatterns().GetCurrentId();
    }
    m_sequenceReturnBitDepth = m_device.GetBitDepth();
    m_sequencePool.swap(pool);
    m_sequenceEvents.swap(events);
    m_sequenceRepeatCount = steps.repeatCount;
    VEROVE_LOG(function, L"End - %u patterns, %u events",
               static_cast<unsigned>(m_sequencePool.size()),
               static_cast<unsigned>(m_sequenceEvents.size()));
    return 0;
}

int CZtVeroveIlluminationSequence::GenerateGridAppendToISPool(int columns, int rows) {
    const char* function = "CZtStimulationDeviceVerove::GenerateGridAppendToISPool";
    VEROVE_LOG(function, L"Start");
    CZtVeroveDriver* driver = m_device.GetDriver();
    if (!driver) {
        VEROVE_LOG(function, L"Aborting, no device driver loaded...");
        return VeroveStatus::kDmdFailed;
    }
    if (columns < 1 || rows < 1) {
        return VeroveStatus::kInvalidArgument;
    }
    const auto width = static_cast<std::uint32_t>(driver->GetDmdWidth());
    const auto height = static_cast<std::uint32_t>(driver->GetDmdHeight());
    const std::uint32_t cellWidth = width / static_cast<std::uint32_t>(columns);
    const std::uint32_t cellHeight = height / static_cast<std::uint32_t>(rows);
    SZtPicBuf cell;
    if (CZtPicBufAPI::Alloc(&cell, width, height, 8, 1) != 0) {
        return VeroveStatus::kNoMemory;
    }
    CZtLock lock(driver->GetBufferLock());
    auto id = static_cast<std::uint32_t>(m_sequencePool.size() + kFirstSequencePatternId);
    for (int row = 0; row < rows; ++row) {
        for (int column = 0; column < columns; ++column) {
            CZtPicBufAPI::Zero(&cell);
            for (std::uint32_t y = 0; y < cellHeight; ++y) {
                std::memset(cell.Row(row * cellHeight + y) + column * cellWidth, 255, cellWidth);
            }
            CZtStringW name;
            name.Format(L"Grid (%d/%d, %d/%d)", column + 1, columns, row + 1, rows);
            CZtPattern pattern(name, width, height);
            pattern.SetBitmap(&cell);
            pattern.SetId(id++);
            pattern.SetMapping(0);
            pattern.SetKind(2);
            m_sequencePool.push_back(std::make_unique<CZtPattern>(pattern));
        }
    }
    return 0;
}
