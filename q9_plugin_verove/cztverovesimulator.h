// The simulated Verove III behind the SDK proxy: its features and the thread that ends its
// exposures.
#pragma once

#include <atomic>
#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <thread>

#include "cztverovehandlelocks.h"
#include "zt/zt_sync.h"

// Thread-safe. The feature tables are guarded by the lock of the simulated handle: the feature
// methods run with it held (the proxy's calls hold it), Expose and Abort take it themselves.
// Starting and stopping the thread are serialised by a mutex of their own, and the thread is joined
// outside every lock: its event callback may re-enter the proxy.
class CZtVeroveSimulator {
public:
    // Reports a change of "IsExposing" on the simulated handle.
    using EventSink = void (*)(int handle, const wchar_t* feature);

    // handleLocks is borrowed and outlives the simulator.
    CZtVeroveSimulator(int handle, CZtVeroveHandleLocks& handleLocks, EventSink fireEvent);
    // Stops and joins the thread, also one stopped from its own event callback.
    ~CZtVeroveSimulator();
    CZtVeroveSimulator(const CZtVeroveSimulator&) = delete;
    CZtVeroveSimulator& operator=(const CZtVeroveSimulator&) = delete;

    bool Start();
    void Stop();

    // Features; a feature never set answers the value the unit starts with.
    bool GetBool(const wchar_t* feature) { return m_bool.try_emplace(feature, true).first->second; }
    void SetBool(const wchar_t* feature, bool value) { m_bool[feature] = value; }
    long long GetInt(const wchar_t* feature) { return m_int.try_emplace(feature, 0).first->second; }
    void SetInt(const wchar_t* feature, long long value) { m_int[feature] = value; }
    double GetFloat(const wchar_t* feature) {
        return m_float.try_emplace(feature, 0.0).first->second;
    }
    void SetFloat(const wchar_t* feature, double value) { m_float[feature] = value; }
    int GetEnumIndex(const wchar_t* feature) {
        return m_enum.try_emplace(feature, 0).first->second;
    }
    // An unknown value string selects index 0.
    void SetEnumString(const wchar_t* feature, const wchar_t* value) {
        m_enum[feature] = m_enumValues.try_emplace(value, 0).first->second;
    }
    std::wstring GetString(const wchar_t* feature) {
        return m_string.try_emplace(feature, L"SimulatorString").first->second;
    }

    // Starts an exposure, which the internal trigger ends after the exposure time. 0, or -1 when
    // the handle was closed meanwhile.
    int Expose();
    // Ends an exposure under way at once.
    void Abort();

private:
    void JoinRetired();  // m_threadMutex held
    // Runs until the generation changes.
    void Run(std::uint64_t generation);

    const int m_handle;
    CZtVeroveHandleLocks& m_handleLocks;
    const EventSink m_fireEvent;
    std::map<std::wstring, bool> m_bool;
    std::map<std::wstring, long long> m_int;
    std::map<std::wstring, double> m_float;
    std::map<std::wstring, std::wstring> m_string;
    std::map<std::wstring, int> m_enum;
    std::map<std::wstring, int> m_enumValues;
    CZtEvent m_event{false, false};
    std::mutex m_threadMutex;  // serialises starting and stopping the thread
    std::thread m_thread;      // m_threadMutex
    // A thread stopped from its own event callback: it ends when the callback returns and is
    // joined by the next start or stop, or by the destructor; m_threadMutex.
    std::thread m_retired;
    std::atomic<std::uint64_t> m_generation{0};  // the running thread's; changed to stop it
    std::atomic<bool> m_abortPending{false};
};
