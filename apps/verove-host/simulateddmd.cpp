// Reading the simulated SDK library's DMD through its plain C control functions.
#include "simulateddmd.h"

#include <dlfcn.h>

#include <QDir>
#include <vector>

#include "zt/zt_util.h"

namespace {

using ShownFrameFn = int (*)(int*, int*, std::uint64_t*, std::uint8_t*, std::size_t);
using ClockMsFn = double (*)();
using LastCallStartMsFn = double (*)(const char*, const wchar_t*);

// Thread-compatible: one lookup, used by the thread that made it.
//
// The program does not link the library: the plug-in's SDK loader opens it from the search path,
// and only a library already loaded is asked (RTLD_NOLOAD).
class LoadedLibrary {
public:
    explicit LoadedLibrary(const std::string& path)
        : m_handle(dlopen(path.c_str(), RTLD_NOW | RTLD_NOLOAD)) {}
    ~LoadedLibrary() {
        if (m_handle) {
            dlclose(m_handle);
        }
    }
    LoadedLibrary(const LoadedLibrary&) = delete;
    LoadedLibrary& operator=(const LoadedLibrary&) = delete;

    template <class Fn>
    Fn Resolve(const char* name) const {
        return m_handle ? reinterpret_cast<Fn>(dlsym(m_handle, name)) : nullptr;
    }

private:
    void* m_handle;
};

}  // namespace

SimulatedDmd::SimulatedDmd(const QString& sdkFolder)
    : m_library(QDir(sdkFolder).filePath("libatcore.so").toStdString()) {}

void SimulatedDmd::ConnectCamera() const {
    const SimulatedDmd dmd = *this;
    zthost::SetMirrorFrameSource([dmd] {
        zthost::MirrorFrame frame;
        std::uint64_t counter = 0;
        dmd.ShownFrame(&frame, &counter);
        return frame;
    });
}

bool SimulatedDmd::ShownFrame(zthost::MirrorFrame* frame, std::uint64_t* counter) const {
    const LoadedLibrary library(m_library);
    auto shown = library.Resolve<ShownFrameFn>("fake_atcore_ShownFrame");
    *frame = zthost::MirrorFrame();
    if (!shown) {
        return false;
    }
    int width = 0;
    int height = 0;
    shown(&width, &height, counter, nullptr, 0);
    std::vector<std::uint8_t> levels(static_cast<std::size_t>(width) * height);
    // The frame may change between the two calls; the second one answers for itself.
    const bool exposing = shown(&width, &height, counter, levels.data(), levels.size()) == 1;
    frame->width = width;
    frame->height = height;
    if (exposing && levels.size() == static_cast<std::size_t>(width) * height) {
        frame->levels = std::move(levels);
    }
    return true;
}

double SimulatedDmd::LastExposeTime() const {
    const LoadedLibrary library(m_library);
    auto clock = library.Resolve<ClockMsFn>("fake_atcore_ClockMs");
    auto lastCall = library.Resolve<LastCallStartMsFn>("fake_atcore_LastCallStartMs");
    if (!clock || !lastCall) {
        return -1.0;
    }
    const double expose = lastCall("AT_Command", L"Expose");
    if (expose < 0.0) {
        return -1.0;
    }
    // The two clocks tick alike (both steady) from different starts.
    const double host = ZT_GetTimeCounter();
    return expose + (host - clock());
}
