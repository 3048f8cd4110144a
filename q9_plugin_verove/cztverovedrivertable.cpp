// The drivers of the open devices by handle.
#include "cztverovedrivertable.h"

#include <cwchar>
#include <iterator>
#include <map>

#include "cztverovedriver.h"
#include "cztveroveproxy.h"
#include "zt/zt_sync.h"

namespace {

struct SDriverTable {
    CZtCriticalSection lock;
    std::map<int, CZtVeroveDriver*> drivers;  // lock
};

SDriverTable& Table() {
    static SDriverTable* const table = new SDriverTable;
    return *table;
}

}  // namespace

void CZtVeroveDriverTable::Add(int handle, CZtVeroveDriver* driver) {
    SDriverTable& table = Table();
    CZtLock lock(table.lock);
    table.drivers[handle] = driver;
}

void CZtVeroveDriverTable::Remove(const CZtVeroveDriver* driver) {
    SDriverTable& table = Table();
    CZtLock lock(table.lock);
    for (auto it = table.drivers.begin(); it != table.drivers.end();) {
        it = it->second == driver ? table.drivers.erase(it) : std::next(it);
    }
}

void CZtVeroveDriverTable::EventCallback(int handle, const wchar_t* feature) {
    if (!feature || std::wcscmp(feature, L"IsExposing") != 0) {
        return;
    }
    bool exposing = true;
    if (CZtVeroveProxy::Instance().IsExposing(handle, &exposing) != 0 || exposing) {
        return;
    }
    SDriverTable& table = Table();
    CZtLock lock(table.lock);
    const auto it = table.drivers.find(handle);
    if (it != table.drivers.end()) {
        it->second->GetExposureEndEvent().Set();
    }
}
