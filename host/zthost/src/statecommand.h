// StateCommand: one command that changes the state of a logical device of the device manager.
#pragma once

#include "zthost/microscope.h"

// Reentrant: a value; whoever holds the device's set-up checks and applies it.
class StateCommand {
public:
    static StateCommand LinePower(ZT_DWORD id, int line, double power);
    static StateCommand LineUsed(ZT_DWORD id, int line, bool used);
    static StateCommand Voltage(ZT_DWORD id, double voltage);
    static StateCommand Iris(ZT_DWORD id, double iris);
    static StateCommand PortCombination(ZT_DWORD id, int index);
    // notify false: the change reaches no module as a device-change event.
    static StateCommand ShutterState(ZT_DWORD id, bool open, bool notify);

    ZT_DWORD DeviceId() const { return m_id; }
    zthost::DeviceCommand Kind() const { return m_kind; }
    bool Notifies() const { return m_notify; }
    // 0 when the device can take the command; -6 for a device of another type (or a light of the
    // other kind), -7 for a line, index or value out of its range. Refusals are not its business.
    int Check(const zthost::LogicalDeviceSetup& device) const;
    // Applies a checked command: true when the device's state changed.
    bool Apply(zthost::LogicalDeviceSetup* device) const;

private:
    StateCommand(zthost::DeviceCommand kind, ZT_DWORD id) : m_kind(kind), m_id(id) {}

    zthost::DeviceCommand m_kind;
    ZT_DWORD m_id;
    int m_index = 0;  // line or port combination
    double m_number = 0.0;
    bool m_flag = false;
    bool m_notify = true;
};
