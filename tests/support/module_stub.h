// A module for tests that only watch module events: it lives on the test's stack, so it counts no
// references, and it answers everything but OnModuleEvent neutrally.
#pragma once

#include "zt/zt_module.h"

// Thread-compatible.
class ModuleStub : public IZtModuleQ9 {
public:
    long AddRef() override { return 1; }
    long Release() override { return 1; }
    void* QueryInterface(const char*) override { return nullptr; }
    int SetHostContext(IZtHostContext*) override { return 0; }
    void Reserved01() override {}
    int Reserved02() override { return 0; }
    int Reserved03() override { return 0; }
    int Reserved04() override { return 0; }
    int RegisterModuleEvents() override { return 0; }
    int Reserved06() override { return 0; }
    int Reserved07() override { return 0; }
    int Reserved08() override { return 0; }
    int Reserved09() override { return 0; }
    int Reserved10() override { return 0; }
    void Reserved12() override {}
    void Reserved13() override {}
    void Reserved14() override {}
};
