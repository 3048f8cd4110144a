// The simulated camera reads the mirror frame the simulated SDK library's DMD shows.
#include "simulateddmd.h"

#include <dlfcn.h>

#include <QDir>
#include <string>
#include <utility>

#include "fake_atcore_control.h"
#include "zthost/optics.h"

namespace {

// fake_atcore::ShownFrame(int), looked up by its linkage name: the program does not link the
// library, which the plug-in's SDK loader opens from the search path.
constexpr char kShownFrame[] = "_ZN11fake_atcore10ShownFrameEi";
using ShownFrameFn = fake_atcore::MirrorFrame (*)(int);

}  // namespace

void ConnectSimulatedDmd(const QString& sdkFolder) {
    const std::string library = QDir(sdkFolder).filePath("libatcore.so").toStdString();
    zthost::SetMirrorFrameSource([library] {
        zthost::MirrorFrame frame;
        // Only a library already loaded by the plug-in is asked; none is loaded here.
        void* handle = dlopen(library.c_str(), RTLD_NOW | RTLD_NOLOAD);
        if (!handle) {
            return frame;
        }
        if (auto shown = reinterpret_cast<ShownFrameFn>(dlsym(handle, kShownFrame))) {
            fake_atcore::MirrorFrame mirrors = shown(0);
            frame.width = mirrors.width;
            frame.height = mirrors.height;
            if (mirrors.exposing) {
                frame.levels = std::move(mirrors.levels);
            }
        }
        dlclose(handle);
        return frame;
    });
}
