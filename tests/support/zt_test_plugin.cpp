// A minimal plug-in for the class registry tests: one constructible class, one without export.
#include <atomic>
#include <cstring>

#include "zt/zt_class.h"
#include "zt/zt_export.h"

namespace {

std::atomic<int> g_liveObjects{0};

// Thread-safe (reference counting only). Answers "IZtTestThing" besides "IZtInterface".
class CZtTestThing : public CZtClass {
public:
    CZtTestThing() { ++g_liveObjects; }
    ~CZtTestThing() override { --g_liveObjects; }

    void* QueryInterface(const char* interfaceName) override {
        if (interfaceName && std::strcmp(interfaceName, "IZtTestThing") == 0) {
            AddRef();
            return static_cast<IZtInterface*>(this);
        }
        return CZtClass::QueryInterface(interfaceName);
    }
};

}  // namespace

ZT_PLUGIN_EXPORT IZtInterface* ZT_ConstructorForCZtTestThing(const char*, int) {
    return new CZtTestThing;
}

// How many CZtTestThing objects exist: lets tests see that references are given back.
ZT_PLUGIN_EXPORT int ZtTestPlugin_LiveObjects() {
    return g_liveObjects;
}
