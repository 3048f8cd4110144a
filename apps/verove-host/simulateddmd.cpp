// Reading the simulated SDK library's DMD through its plain C control functions.
#include "simulateddmd.h"

#include <dlfcn.h>

#include <QDir>
#include <vector>

#include "zt/zt_util.h"

namespace {

using DeviceShownFrameFn = int (*)(int, int*, int*, std::uint64_t*, std::uint8_t*, std::size_t);
using SetDeviceCountFn = void (*)(int);
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

bool SimulatedDmd::OfferUnits(int units) {
    void* handle = dlopen(m_library.c_str(), RTLD_NOW);
    if (!handle) {
        return false;
    }
    m_held = std::shared_ptr<void>(handle, [](void* held) { dlclose(held); });
    auto setCount = reinterpret_cast<SetDeviceCountFn>(dlsym(handle, "fake_atcore_SetDeviceCount"));
    if (!setCount) {
        return false;
    }
    setCount(units);
    return true;
}

void SimulatedDmd::ConnectCamera(const std::vector<std::array<double, 6>>& furtherMaps) const {
    const SimulatedDmd dmd = *this;
    auto unitFrame = [dmd](int unit) {
        return [dmd, unit] {
            zthost::MirrorFrame frame;
            std::uint64_t counter = 0;
            dmd.ShownFrame(&frame, &counter, unit);
            return frame;
        };
    };
    zthost::SetMirrorFrameSource(unitFrame(0));
    std::vector<zthost::FurtherDmd> further;
    for (size_t i = 0; i < furtherMaps.size(); ++i) {
        further.push_back({unitFrame(static_cast<int>(i) + 1), furtherMaps[i]});
    }
    zthost::SetFurtherDmds(further);
}

bool SimulatedDmd::ShownFrame(zthost::MirrorFrame* frame, std::uint64_t* counter, int unit) const {
    const LoadedLibrary library(m_library);
    auto shown = library.Resolve<DeviceShownFrameFn>("fake_atcore_DeviceShownFrame");
    *frame = zthost::MirrorFrame();
    if (!shown) {
        return false;
    }
    int width = 0;
    int height = 0;
    shown(unit, &width, &height, counter, nullptr, 0);
    std::vector<std::uint8_t> levels(static_cast<std::size_t>(width) * height);
    // The frame may change between the two calls; the second one answers for itself.
    const bool exposing = shown(unit, &width, &height, counter, levels.data(), levels.size()) == 1;
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
