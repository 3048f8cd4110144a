// MacroLayer: the host's macro procedures, its protocol, its command interpreter and the timing of
// manual shots.
#pragma once

#include <condition_variable>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "zthost/acquisition.h"

// Thread-safe. Procedures and devices are called without the layer's lock held, so they may call
// back into it; a shot's timed end runs on a thread of the layer.
class MacroLayer {
public:
    static MacroLayer& Instance();

    int ManualShot(const wchar_t* deviceName, int on, double duration, int parameter);
    int ProtocolCommand(const wchar_t* line);
    int CliCommand(const wchar_t* line);
    bool HasProcedure(const std::wstring& name);
    void RegisterProcedure(const std::wstring& name, zthost::MacroProcedure procedure);
    void UnregisterProcedure(const std::wstring& name);
    void RecordRedraw(int flags);

    std::vector<std::wstring> ProtocolLines();
    std::vector<std::wstring> CliCommands();
    std::vector<zthost::ManualShotRecord> ManualShotCalls();
    std::vector<int> RedrawRequests();
    int TimedEndCount();
    // Cancels a pending timed end and forgets every record.
    void ClearRecords();
    // ClearRecords, and back to the procedures the host starts with.
    void Reset();

private:
    MacroLayer();
    ~MacroLayer();
    void CancelTimedEnd();
    void StartTimedEnd(const std::wstring& deviceName, double duration);

    std::mutex m_mutex;
    std::map<std::wstring, zthost::MacroProcedure> m_procedures;
    std::vector<std::wstring> m_protocol;
    std::vector<std::wstring> m_cliCommands;
    std::vector<zthost::ManualShotRecord> m_shots;
    std::vector<int> m_redraws;
    int m_timedEnds = 0;
    // The pending timed end: its thread waits until the generation moves on or the time is over.
    std::thread m_timer;
    std::condition_variable m_timerWake;
    unsigned m_generation = 0;
};
