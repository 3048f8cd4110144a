// Fuzz target: any bytes read as a scenario file of verove-host, and what a scenario that reads
// holds.
#include <QString>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "fuzz_folder.h"
#include "scenario.h"
#include "zthost/zthost.h"

namespace {

bool Finite(const QRectF& rect) {
    return std::isfinite(rect.x()) && std::isfinite(rect.y()) && std::isfinite(rect.width()) &&
           std::isfinite(rect.height());
}

// What the session relies on once a file has read: ROIs with finite bounds on the image, a
// camera with a sensor, lines for every group given, stimulations of a group S1-S3.
void CheckScenario(const Scenario& scenario) {
    const ScenarioCamera& camera = scenario.Camera();
    if (camera.setup.sensorWidth <= 0 || camera.setup.sensorHeight <= 0 || camera.imageWidth <= 0 ||
        camera.imageHeight <= 0) {
        std::abort();
    }
    for (const std::vector<ScenarioRoi>& group : scenario.Rois()) {
        for (const ScenarioRoi& roi : group) {
            if (!Finite(roi.bounds)) {
                std::abort();
            }
        }
    }
    for (const ScenarioStimulationRun& run : scenario.Protocol().stimulations) {
        if (run.group < 0 || run.group > 2 || !(run.durationMs >= 0.0)) {
            std::abort();
        }
    }
    scenario.RoiObjects();
}

}  // namespace

// Qt 5.15's JSON parser leaks the arrays and objects it has built when it meets an error further
// on; the reader only sees the error. Qt is built without frame pointers: only the slow unwinder
// finds the parser on the stack of such a leak.
extern "C" const char* __lsan_default_suppressions() {
    return "leak:QJsonDocument::fromJson\n";
}

extern "C" const char* __asan_default_options() {
    return "fast_unwind_on_malloc=0";
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::filesystem::path path = WriteFuzzFile("scenario", "scenario.json", data, size);
    Scenario scenario;
    QString error;
    if (scenario.Load(QString::fromStdString(path.string()), &error)) {
        CheckScenario(scenario);
    } else if (error.isEmpty()) {
        std::abort();  // a refused file is always explained
    }
    zthost::ClearCapturedLog();
    return 0;
}
