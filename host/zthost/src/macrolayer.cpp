// The host's macro layer: ManualShot, Protocol_Command, CLI_Command and the procedure table.
#include "macrolayer.h"

#include <chrono>
#include <cwctype>
#include <utility>

#include "hostcontext.h"
#include "zt/zt_display.h"
#include "zt/zt_macro.h"
#include "zt/zt_stimulation.h"

namespace {

void SkipSpace(const std::wstring& line, size_t* at) {
    while (*at < line.size() && std::iswspace(line[*at])) {
        ++*at;
    }
}

// A double-quoted text (a backslash takes the next character as it is) or a number.
bool ParseArgument(const std::wstring& line, size_t* at, zthost::MacroArgument* argument) {
    if (line[*at] == L'"') {
        argument->isText = true;
        for (++*at; *at < line.size() && line[*at] != L'"'; ++*at) {
            if (line[*at] == L'\\' && *at + 1 < line.size()) {
                ++*at;
            }
            argument->text += line[*at];
        }
        if (*at == line.size()) {
            return false;
        }
        ++*at;
        return true;
    }
    const wchar_t* begin = line.c_str() + *at;
    wchar_t* end = nullptr;
    argument->number = std::wcstod(begin, &end);
    if (end == begin) {
        return false;
    }
    *at += static_cast<size_t>(end - begin);
    return true;
}

// name(argument, ...) with an optional semicolon; spaces anywhere between the parts.
bool ParseCommandLine(const std::wstring& line, std::wstring* name,
                      std::vector<zthost::MacroArgument>* arguments) {
    size_t at = 0;
    SkipSpace(line, &at);
    while (at < line.size() && (std::iswalnum(line[at]) || line[at] == L'_')) {
        *name += line[at++];
    }
    SkipSpace(line, &at);
    if (name->empty() || at == line.size() || line[at] != L'(') {
        return false;
    }
    ++at;
    SkipSpace(line, &at);
    if (at < line.size() && line[at] == L')') {
        ++at;
    } else {
        for (;;) {
            zthost::MacroArgument argument;
            SkipSpace(line, &at);
            if (at == line.size() || !ParseArgument(line, &at, &argument)) {
                return false;
            }
            arguments->push_back(std::move(argument));
            SkipSpace(line, &at);
            if (at == line.size()) {
                return false;
            }
            if (line[at++] == L')') {
                break;
            }
            if (line[at - 1] != L',') {
                return false;
            }
        }
    }
    SkipSpace(line, &at);
    if (at < line.size() && line[at] == L';') {
        ++at;
    }
    SkipSpace(line, &at);
    return at == line.size();
}

int ManualShotProcedure(const std::vector<zthost::MacroArgument>& arguments) {
    if (arguments.size() != 4 || !arguments[0].isText || arguments[1].isText ||
        arguments[2].isText || arguments[3].isText) {
        return -4;
    }
    return ManualShot(arguments[0].text.c_str(), static_cast<int>(arguments[1].number),
                      arguments[2].number, static_cast<int>(arguments[3].number));
}

// The device registered under name, with a reference the caller releases; null when none is.
IZtStimulationDevice* FindDevice(const wchar_t* name) {
    IZtStimulationDevice* device =
        HostContext::Instance().StimulationDevices().GetStaticDevice(name);
    if (device) {
        device->AddRef();
    }
    return device;
}

// Waits for a timer thread that has been told to stop. The timed end itself may get here through
// the device it ends: it cannot wait for itself and runs out on its own.
void FinishTimer(std::thread* timer) {
    if (!timer->joinable()) {
        return;
    }
    if (timer->get_id() == std::this_thread::get_id()) {
        timer->detach();
    } else {
        timer->join();
    }
}

}  // namespace

MacroLayer& MacroLayer::Instance() {
    static MacroLayer layer;
    return layer;
}

MacroLayer::MacroLayer() {
    m_procedures[L"ManualShot"] = ManualShotProcedure;
}

MacroLayer::~MacroLayer() {
    CancelTimedEnd();
}

int MacroLayer::ManualShot(const wchar_t* deviceName, int on, double duration, int parameter) {
    // A new call replaces the shot that was running, and with it that shot's timed end.
    CancelTimedEnd();
    int result = -4;
    if (deviceName) {
        IZtStimulationDevice* device = FindDevice(deviceName);
        result = -5;
        if (device) {
            if (on != 0) {
                SZtStimulationRequest request;
                request.runMode = 1;
                request.durationMs = duration;
                request.groupMask = static_cast<std::uint32_t>(parameter);
                result = device->StimulationBegin(&request);
                if (result == 0 && duration > 0.0) {
                    StartTimedEnd(deviceName, duration);
                }
            } else {
                result = device->StimulationEnd(nullptr, nullptr, 0);
            }
            device->Release();
        }
    }
    std::lock_guard lock(m_mutex);
    m_shots.push_back({deviceName ? deviceName : L"", on, duration, parameter, result});
    return result;
}

void MacroLayer::StartTimedEnd(const std::wstring& deviceName, double duration) {
    std::thread previous;
    std::unique_lock lock(m_mutex);
    previous = std::move(m_timer);
    const unsigned generation = ++m_generation;
    m_timer = std::thread([this, deviceName, duration, generation] {
        {
            std::unique_lock wait(m_mutex);
            const auto timeout = std::chrono::duration<double, std::milli>(duration);
            if (m_timerWake.wait_for(wait, timeout, [&] { return m_generation != generation; })) {
                return;
            }
            ++m_timedEnds;
        }
        if (IZtStimulationDevice* device = FindDevice(deviceName.c_str())) {
            device->StimulationEnd(nullptr, nullptr, 0);
            device->Release();
        }
    });
    lock.unlock();
    m_timerWake.notify_all();
    FinishTimer(&previous);
}

void MacroLayer::CancelTimedEnd() {
    std::thread timer;
    {
        std::lock_guard lock(m_mutex);
        ++m_generation;
        timer = std::move(m_timer);
    }
    m_timerWake.notify_all();
    FinishTimer(&timer);
}

int MacroLayer::ProtocolCommand(const wchar_t* line) {
    if (!line) {
        return -4;
    }
    std::lock_guard lock(m_mutex);
    m_protocol.emplace_back(line);
    return 0;
}

int MacroLayer::CliCommand(const wchar_t* line) {
    if (!line) {
        return -4;
    }
    zthost::MacroProcedure procedure;
    std::wstring name;
    std::vector<zthost::MacroArgument> arguments;
    const bool parsed = ParseCommandLine(line, &name, &arguments);
    {
        std::lock_guard lock(m_mutex);
        m_cliCommands.emplace_back(line);
        if (!parsed) {
            return -4;
        }
        const auto found = m_procedures.find(name);
        if (found == m_procedures.end()) {
            return -5;
        }
        procedure = found->second;
    }
    return procedure(arguments);
}

bool MacroLayer::HasProcedure(const std::wstring& name) {
    std::lock_guard lock(m_mutex);
    return m_procedures.count(name) != 0;
}

void MacroLayer::RegisterProcedure(const std::wstring& name, zthost::MacroProcedure procedure) {
    std::lock_guard lock(m_mutex);
    m_procedures[name] = std::move(procedure);
}

void MacroLayer::UnregisterProcedure(const std::wstring& name) {
    std::lock_guard lock(m_mutex);
    m_procedures.erase(name);
}

void MacroLayer::RecordRedraw(int flags) {
    std::lock_guard lock(m_mutex);
    m_redraws.push_back(flags);
}

std::vector<std::wstring> MacroLayer::ProtocolLines() {
    std::lock_guard lock(m_mutex);
    return m_protocol;
}

std::vector<std::wstring> MacroLayer::CliCommands() {
    std::lock_guard lock(m_mutex);
    return m_cliCommands;
}

std::vector<zthost::ManualShotRecord> MacroLayer::ManualShotCalls() {
    std::lock_guard lock(m_mutex);
    return m_shots;
}

std::vector<int> MacroLayer::RedrawRequests() {
    std::lock_guard lock(m_mutex);
    return m_redraws;
}

int MacroLayer::TimedEndCount() {
    std::lock_guard lock(m_mutex);
    return m_timedEnds;
}

void MacroLayer::ClearRecords() {
    CancelTimedEnd();
    std::lock_guard lock(m_mutex);
    m_protocol.clear();
    m_cliCommands.clear();
    m_shots.clear();
    m_redraws.clear();
    m_timedEnds = 0;
}

void MacroLayer::Reset() {
    ClearRecords();
    std::lock_guard lock(m_mutex);
    m_procedures.clear();
    m_procedures[L"ManualShot"] = ManualShotProcedure;
}

// ---- The host's exported functions -------------------------------------------------------------

int ManualShot(const wchar_t* deviceName, int on, double duration, int parameter) {
    return MacroLayer::Instance().ManualShot(deviceName, on, duration, parameter);
}

int Protocol_Command(const wchar_t* commandLine) {
    return MacroLayer::Instance().ProtocolCommand(commandLine);
}

int CLI_Command(const wchar_t* commandLine) {
    return MacroLayer::Instance().CliCommand(commandLine);
}

bool ZT_FindProcedure(const wchar_t* name) {
    return name && MacroLayer::Instance().HasProcedure(name);
}

void Q9_Display_PictureInc(int flags) {
    MacroLayer::Instance().RecordRedraw(flags);
}

namespace zthost {

void RegisterProcedure(const std::wstring& name, MacroProcedure procedure) {
    MacroLayer::Instance().RegisterProcedure(name, std::move(procedure));
}

void UnregisterProcedure(const std::wstring& name) {
    MacroLayer::Instance().UnregisterProcedure(name);
}

std::vector<std::wstring> ProtocolLines() {
    return MacroLayer::Instance().ProtocolLines();
}

std::vector<std::wstring> CliCommands() {
    return MacroLayer::Instance().CliCommands();
}

std::vector<ManualShotRecord> ManualShotCalls() {
    return MacroLayer::Instance().ManualShotCalls();
}

int ManualShotTimedEndCount() {
    return MacroLayer::Instance().TimedEndCount();
}

void ClearMacroRecords() {
    MacroLayer::Instance().ClearRecords();
}

std::vector<int> PictureRedrawRequests() {
    return MacroLayer::Instance().RedrawRequests();
}

}  // namespace zthost
