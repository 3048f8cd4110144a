// The plug-in manager: module registrations per event name, delivery in priority order.
#include "pluginmanager.h"

#include <algorithm>

#include "zt/zt_log.h"

int PluginManager::RegisterModuleEvent(const wchar_t* eventName, IZtModuleQ9* module,
                                       int priority) {
    if (!eventName || !module) {
        ZT_DIAG_OUTPUT(L"zthost %hs: null event name or module",
                       "PluginManager::RegisterModuleEvent");
        return -4;
    }
    std::lock_guard lock(m_mutex);
    auto& registrations = m_events[eventName];
    const auto same = [module](const Registration& r) { return r.module == module; };
    if (std::any_of(registrations.begin(), registrations.end(), same)) {
        ZT_DIAG_OUTPUT(L"zthost %hs: module already registered for \"%s\"",
                       "PluginManager::RegisterModuleEvent", eventName);
        return -10;
    }
    const auto after =
        std::find_if(registrations.begin(), registrations.end(),
                     [priority](const Registration& r) { return r.priority > priority; });
    registrations.insert(after, Registration{module, priority});
    return 0;
}

int PluginManager::UnregisterModuleEvent(const wchar_t* eventName, IZtModuleQ9* module) {
    if (!eventName || !module) {
        ZT_DIAG_OUTPUT(L"zthost %hs: null event name or module",
                       "PluginManager::UnregisterModuleEvent");
        return -4;
    }
    std::lock_guard lock(m_mutex);
    const auto event = m_events.find(eventName);
    const auto same = [module](const Registration& r) { return r.module == module; };
    if (event == m_events.end() || std::erase_if(event->second, same) == 0) {
        ZT_DIAG_OUTPUT(L"zthost %hs: module not registered for \"%s\"",
                       "PluginManager::UnregisterModuleEvent", eventName);
        return -5;
    }
    if (event->second.empty()) {
        m_events.erase(event);
    }
    return 0;
}

int PluginManager::SendModuleEvent(const wchar_t* eventName, std::intptr_t param, bool* handled,
                                   void* list) {
    if (!eventName) {
        return 0;
    }
    std::vector<Registration> receivers;
    {
        std::lock_guard lock(m_mutex);
        const auto event = m_events.find(eventName);
        if (event != m_events.end()) {
            receivers = event->second;
        }
    }
    bool localHandled = false;
    bool* flag = handled ? handled : &localHandled;
    *flag = false;
    int delivered = 0;
    for (const Registration& receiver : receivers) {
        // A module unregistered by an earlier receiver may be gone already.
        if (!IsRegistered(eventName, receiver.module)) {
            continue;
        }
        receiver.module->OnModuleEvent(eventName, param, flag, list);
        ++delivered;
        if (*flag) {
            break;
        }
    }
    return delivered;
}

bool PluginManager::IsRegistered(const wchar_t* eventName, IZtModuleQ9* module) {
    std::lock_guard lock(m_mutex);
    const auto event = m_events.find(eventName);
    return event != m_events.end() &&
           std::any_of(event->second.begin(), event->second.end(),
                       [module](const Registration& r) { return r.module == module; });
}

void PluginManager::Clear() {
    std::lock_guard lock(m_mutex);
    m_events.clear();
}
