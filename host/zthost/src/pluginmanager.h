// PluginManager: the host's routing of named module events to registered modules.
#pragma once

#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "zt/zt_module.h"

// Thread-safe. Modules are borrowed: a module unregisters before it goes away. Events are
// delivered outside the lock, so a module may register or unregister while it handles one.
class PluginManager : public IZtPluginManager {
public:
    int RegisterModuleEvent(const wchar_t* eventName, IZtModuleQ9* module, int priority) override;
    int UnregisterModuleEvent(const wchar_t* eventName, IZtModuleQ9* module) override;
    int SendModuleEvent(const wchar_t* eventName, std::intptr_t param, bool* handled,
                        void* list) override;

    void Clear();

private:
    struct Registration {
        IZtModuleQ9* module;
        int priority;
    };

    bool IsRegistered(const wchar_t* eventName, IZtModuleQ9* module);

    std::mutex m_mutex;
    // Per event, sorted by priority; equal priorities in registration order.
    std::map<std::wstring, std::vector<Registration>> m_events;
};
