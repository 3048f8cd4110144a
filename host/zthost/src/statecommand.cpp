// State commands of the device manager: their checks against a device and their effect on it.
#include "statecommand.h"

#include "zt/zt_devices.h"

namespace {

bool InRange(double value, double minimum, double maximum) {
    return value >= minimum && value <= maximum;  // false for NaN
}

template <typename T>
bool Assign(T* field, T value) {
    if (*field == value) {
        return false;
    }
    *field = value;
    return true;
}

}  // namespace

StateCommand StateCommand::LinePower(ZT_DWORD id, int line, double power) {
    StateCommand command(zthost::DeviceCommand::LinePower, id);
    command.m_index = line;
    command.m_number = power;
    return command;
}

StateCommand StateCommand::LineUsed(ZT_DWORD id, int line, bool used) {
    StateCommand command(zthost::DeviceCommand::LineUsed, id);
    command.m_index = line;
    command.m_flag = used;
    return command;
}

StateCommand StateCommand::Voltage(ZT_DWORD id, double voltage) {
    StateCommand command(zthost::DeviceCommand::Voltage, id);
    command.m_number = voltage;
    return command;
}

StateCommand StateCommand::Iris(ZT_DWORD id, double iris) {
    StateCommand command(zthost::DeviceCommand::Iris, id);
    command.m_number = iris;
    return command;
}

StateCommand StateCommand::PortCombination(ZT_DWORD id, int index) {
    StateCommand command(zthost::DeviceCommand::PortCombination, id);
    command.m_index = index;
    return command;
}

StateCommand StateCommand::ShutterState(ZT_DWORD id, bool open, bool notify) {
    StateCommand command(zthost::DeviceCommand::ShutterState, id);
    command.m_flag = open;
    command.m_notify = notify;
    return command;
}

int StateCommand::Check(const zthost::LogicalDeviceSetup& device) const {
    using zthost::DeviceCommand;
    using zthost::LightControl;
    switch (m_kind) {
        case DeviceCommand::LinePower:
        case DeviceCommand::LineUsed:
            if (device.type != ZT_LOGDEV_MULTILASER) {
                return -6;
            }
            if (m_index < 0 || m_index >= static_cast<int>(device.lines.size())) {
                return -7;
            }
            return m_kind == DeviceCommand::LineUsed || InRange(m_number, 0.0, 100.0) ? 0 : -7;
        case DeviceCommand::Voltage:
        case DeviceCommand::Iris: {
            const LightControl wanted =
                m_kind == DeviceCommand::Voltage ? LightControl::Voltage : LightControl::Iris;
            if (device.type != ZT_LOGDEV_LIGHT || device.lightControl != wanted) {
                return -6;
            }
            return InRange(m_number, device.minimum, device.maximum) ? 0 : -7;
        }
        case DeviceCommand::PortCombination:
            if (device.type != ZT_LOGDEV_LASEROUTPUT) {
                return -6;
            }
            return m_index >= 0 && m_index < static_cast<int>(device.positionNames.size()) ? 0 : -7;
        case DeviceCommand::ShutterState:
            return device.type == ZT_LOGDEV_SHUTTER ? 0 : -6;
        case DeviceCommand::CustomCommand:
            break;
    }
    return -6;
}

bool StateCommand::Apply(zthost::LogicalDeviceSetup* device) const {
    using zthost::DeviceCommand;
    switch (m_kind) {
        case DeviceCommand::LinePower:
            return Assign(&device->lines[static_cast<size_t>(m_index)].power, m_number);
        case DeviceCommand::LineUsed:
            return Assign(&device->lines[static_cast<size_t>(m_index)].used, m_flag);
        case DeviceCommand::Voltage:
        case DeviceCommand::Iris:
            return Assign(&device->value, m_number);
        case DeviceCommand::PortCombination:
            return Assign(&device->position, m_index);
        case DeviceCommand::ShutterState:
            return Assign(&device->open, m_flag);
        case DeviceCommand::CustomCommand:
            break;
    }
    return false;
}
