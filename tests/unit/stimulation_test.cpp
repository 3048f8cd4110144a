// Stimulation: areas into group patterns, stimulations in both run modes on the SDK path (the
// mirrors fake_atcore shows), manual shots through the host's macro layer, bit depths,
// illumination sequences, ND validation and the failure answers.
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "cztpluginverove.h"
#include "cztstimulationdeviceverove.h"
#include "cztverovedriver.h"
#include "cztverovenamemanager.h"
#include "cztverovesettingsfile.h"
#include "fake_atcore_control.h"
#include "logical_device.h"
#include "plugin_host.h"
#include "recording_aggregator.h"
#include "stimulation_areas.h"
#include "stimulation_device_stub.h"
#include "verove_device.h"
#include "zt/zt_devices.h"
#include "zt/zt_experiment.h"
#include "zt/zt_grabber.h"
#include "zt/zt_roi.h"
#include "zthost/acquisition.h"
#include "zthost/microscope.h"
#include "zthost/registry_store.h"
#include "zthost/settings_store.h"
#include "zthost/zthost.h"

namespace {

constexpr const wchar_t* kName = L"CZtStimulationDeviceVerove_0";
constexpr int kWidth = 800;
constexpr int kHeight = 600;

std::wstring Line(const char* function, const std::wstring& message) {
    return L"Verove CZtStimulationDeviceVerove::" + CZtStringW::FromUtf8(function).Str() + L": " +
           message;
}

bool HasLine(const char* function, const std::wstring& message) {
    const std::vector<std::wstring> log = zthost::CapturedLog();
    return std::find(log.begin(), log.end(), Line(function, message)) != log.end();
}

CZtRoiObjectList ThreeGroups() {
    return ThreeGroupAreas(1.0);
}

// A mirror of a packed binary frame.
bool Lit(const fake_atcore::MirrorFrame& frame, int x, int y) {
    return (frame.bytes[static_cast<size_t>(y * kWidth / 8 + x / 8)] >> (7 - x % 8)) & 1;
}

bool AllDark(const fake_atcore::MirrorFrame& frame) {
    return std::all_of(frame.bytes.begin(), frame.bytes.end(), [](std::uint8_t b) { return !b; });
}

// Every SDK command and write (no reads) since the record was cleared.
std::vector<std::wstring> Writes() {
    std::vector<std::wstring> writes;
    for (const fake_atcore::CallRecord& call : fake_atcore::Calls()) {
        if (call.function.rfind("AT_Get", 0) != 0 && call.function != "AT_IsImplemented") {
            writes.push_back(call.feature + (call.value.empty() ? L"" : L"=" + call.value));
        }
    }
    return writes;
}

class Stimulation : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_NO_FATAL_FAILURE(ResetPluginHost(m_dir));
        zthost::SetRegistryLocation(m_dir.filePath("registry.ini").toStdWString());
        zthost::SetSearchFolders({QString(VEROVE_FAKE_SDK_DIR).toStdWString()});
        CZtVeroveNameManager::Instance().SetBrand(1);
        zthost::CameraSetup camera;
        camera.name = L"Cam1";
        camera.sensorWidth = kWidth;
        camera.sensorHeight = kHeight;
        ASSERT_EQ(zthost::SetCamera(camera), 0);
        m_device.reset(new CZtStimulationDeviceVerove());
        m_device->SetUniqueName(kName);
        ASSERT_TRUE(m_device->Connect(true, 0, 0));
        SZtStimulationDeviceRecord record;
        record.uniqueName = kName;
        record.device = m_device.get();
        ASSERT_EQ(CZtStimulationDeviceManager::GetInstance()->StaticDeviceAdd(record), 0);
    }

    void TearDown() override {
        if (m_device) {
            m_device->Connect(false, 0, -1);
        }
        zthost::ResetForTests();
        m_device.reset();
        VerovePluginState().hostContext = nullptr;
    }

    CZtVeroveDriver* Driver() { return m_device->GetDriver(); }

    SZtGrabberFormatDesc Format() {
        SZtGrabberFormatDesc format;
        EXPECT_EQ(zthost::HostContext()->GetGrabberProvider()->CameraSettingsGet(&format), 0);
        return format;
    }

    int SetAreas(const CZtRoiObjectList& areas) {
        SZtRLEPicBuf masks;
        EXPECT_EQ(ZT_RoiListToRLE(&areas, kWidth, kHeight, &masks), 0);
        const SZtGrabberFormatDesc format = Format();
        const SZtRect rect{0, 0, kWidth, kHeight};
        return m_device->StimulationAreaSet(&areas, &masks, nullptr, &format, &rect);
    }

    // The frame the pattern renders to at the device's depth, as the driver asks for it.
    std::vector<std::uint8_t> Rendered(int id) {
        CZtPattern copy;
        {
            CZtLock lock(Driver()->GetBufferLock());
            copy = *Driver()->GetPatterns().FindById(static_cast<std::uint32_t>(id));
        }
        const int depth = m_device->GetBitDepth();
        SZtGrabberFormatDesc format;
        EXPECT_EQ(Driver()->GetCurrentFormat(&format), 0);
        std::vector<std::uint8_t> frame(kWidth * kHeight / (depth == 1 ? 8 : 1));
        copy.SetDitheringMethod(static_cast<std::uint32_t>(m_device->GetDitheringMethod()));
        EXPECT_EQ(copy.GetBitmap(frame.data(), static_cast<std::uint32_t>(depth), depth == 1,
                                 &format.value, m_device->GetCalibrationData()),
                  0);
        return frame;
    }

    ZT_DWORD ActivePattern() {
        ZT_DWORD id = 99;
        EXPECT_EQ(m_device->GetActivePatternId(&id), 0);
        return id;
    }

    std::uint64_t RenderCount() {
        CZtLock lock(Driver()->GetBufferLock());
        return Driver()->GetPatterns().GetRenderCount();
    }

    int Begin(int runMode, double duration, std::uint64_t mask) {
        SZtStimulationRequest request;
        request.runMode = runMode;
        request.durationMs = duration;
        request.groupMask = mask;
        return m_device->StimulationBegin(&request);
    }

    // The settings are read once the host has its device manager; only then are they saved.
    void LoadSettingsFromHost() {
        zthost::SetGalvoXYCount(0);
        m_device->LoadSettings();
    }

    QTemporaryDir m_dir;
    DevicePtr m_device;
};

// ---- Areas and group patterns ------------------------------------------------------------------

TEST_F(Stimulation, AreasAreSortedIntoTheGroupPatternsAndRenderedOnce) {
    EXPECT_TRUE(m_device->StimulationAreaIsUpToDate());  // nothing to stimulate yet
    EXPECT_FALSE(m_device->StimulationIsReady());
    bool available = true;
    EXPECT_EQ(m_device->GetPatternAvailable(3, &available), 0);
    EXPECT_FALSE(available);

    const std::uint64_t before = RenderCount();
    ASSERT_EQ(SetAreas(ThreeGroups()), 0);
    EXPECT_EQ(RenderCount(), before + 3);
    EXPECT_TRUE(m_device->StimulationIsReady());
    for (ZT_DWORD id : {3u, 4u, 5u}) {
        EXPECT_EQ(m_device->GetPatternAvailable(id, &available), 0);
        EXPECT_TRUE(available) << id;
    }

    std::uint64_t groups = 0;
    // The same areas again: nothing is rendered a second time.
    ASSERT_EQ(SetAreas(ThreeGroups()), 0);
    EXPECT_EQ(RenderCount(), before + 3);
    // An area that is not marked for stimulation takes no part in the group mask.
    CZtRoiObjectList marked = ThreeGroups();
    marked.GetAt(1)->SetStimulation(false);
    marked.GetAt(2)->SetStimulationGroup(7);
    ASSERT_EQ(SetAreas(marked), 0);
    EXPECT_EQ(m_device->StimulationAreaGet(nullptr, nullptr, nullptr, nullptr, nullptr, &groups),
              0);
    EXPECT_EQ(groups, 0x1u);
    EXPECT_EQ(m_device->GetPatternAvailable(5, &available), 0);
    EXPECT_FALSE(available);
}

TEST_F(Stimulation, ScanAreaComesFromTheGrabbersFormWhenNoneIsGiven) {
    zthost::SetScanAreaForm(SZtScanAreaDesc{10.0, 20.0, 110.0, 70.0, 50, 25});
    ASSERT_EQ(SetAreas(ThreeGroups()), 0);
    SZtScanAreaDesc scan;
    EXPECT_EQ(m_device->StimulationAreaGet(nullptr, nullptr, &scan, nullptr, nullptr, nullptr), 0);
    EXPECT_EQ(scan.right, 110.0);
    EXPECT_EQ(scan.height, 25);
    EXPECT_EQ(m_device->GetCalibrationData()->GetScanAreaDesc().left, 10.0);
}

TEST_F(Stimulation, LogRoiContentListsGroupsIdentifiersAndLabels) {
    m_device->LogROIContent();
    EXPECT_TRUE(HasLine("LogROIContent", L"Device is empty."));
    CZtRoiObjectList areas = ThreeGroups();
    areas.GetAt(0)->SetLabel(L"Soma");
    ASSERT_EQ(SetAreas(areas), 0);
    m_device->LogROIContent();
    EXPECT_TRUE(
        HasLine("LogROIContent",
                L"Device ROI content:\nGroup: S1, ID:  11, Label: 'Soma'"
                L"\nGroup: S2, ID:  12, Label: 'S2:12'\nGroup: S3, ID:  13, Label: 'S3:13'"));
}

// ---- Stimulations ------------------------------------------------------------------------------

TEST_F(Stimulation, EachGroupShowsItsOwnPatternAndTheEndShowsThePreviousOneAgain) {
    ASSERT_EQ(SetAreas(ThreeGroups()), 0);
    ASSERT_EQ(m_device->SetActivePatternId(2), 0);  // "Grid" before the stimulations
    const std::vector<std::uint8_t> grid = Rendered(2);
    // A mirror inside each group's area (the calibration maps mirrors to camera pixels 1:1).
    const int inside[3][2] = {{150, 125}, {400, 300}, {650, 430}};
    for (int g = 0; g < 3; ++g) {
        const std::uint64_t rendered = RenderCount();
        ASSERT_EQ(Begin(1, 100.0, std::uint64_t{1} << g), 0) << g;
        EXPECT_EQ(RenderCount(), rendered) << "a stimulation only switches patterns";
        EXPECT_EQ(ActivePattern(), static_cast<ZT_DWORD>(g + 3));
        const fake_atcore::MirrorFrame shown = fake_atcore::ShownFrame();
        EXPECT_EQ(shown.encoding, L"Mono1Packed");
        EXPECT_EQ(shown.bytes, Rendered(g + 3)) << g;
        for (int other = 0; other < 3; ++other) {
            EXPECT_EQ(Lit(shown, inside[other][0], inside[other][1]), other == g) << g << other;
        }
        ASSERT_EQ(m_device->StimulationEnd(nullptr, nullptr, 0), 0);
        EXPECT_EQ(ActivePattern(), 2u);
        EXPECT_EQ(fake_atcore::ShownFrame().bytes, grid);
    }
}

TEST_F(Stimulation, TheGroupsLightPathIsSwitchedForTheStimulationAndPutBackAfterwards) {
    zthost::LogicalDeviceSetup launch = LogicalDevice(10, ZT_LOGDEV_MULTILASER, L"ML1", 100);
    launch.capabilities = {ZT_LOGDEV_CAP_LIGHT_ONOFF};
    launch.lines = {{405, 20.0, true}, {488, 0.0, false}};
    ASSERT_EQ(zthost::AddLogicalDevice(launch), 0);
    zthost::LogicalDeviceSetup output = LogicalDevice(20, ZT_LOGDEV_LASEROUTPUT, L"LO1", 101);
    output.positionNames = {L"Left", L"Right", L"Both"};
    ASSERT_EQ(zthost::AddLogicalDevice(output), 0);
    ASSERT_EQ(zthost::AddLogicalDevice(LogicalDevice(30, ZT_LOGDEV_SHUTTER, L"SH1", 102)), 0);
    // The launch finishes its commands later; the stimulation waits for them.
    zthost::SetDeferredCompletionSupported(100, true);
    m_device->LoadSettings();
    ASSERT_EQ(m_device->OnAssociatedLightChanged(10), 0);
    m_device->OnAssociatedShuttersChanged({L"SH1"});
    m_device->OnLaserSwitcherDeviceSelectionChanged(20);
    m_device->OnLaserSwitcherPositionSelectionChanged(2);
    m_device->SetLinePower(0, 0, 35.0);
    m_device->SetLinePower(1, 0, 80.0);
    m_device->SetLineUsed(1, 0, true);
    m_device->SetLineUsed(0, 0, true);
    ASSERT_EQ(SetAreas(ThreeGroups()), 0);
    ASSERT_EQ(m_device->SetActivePatternId(2), 0);

    ASSERT_EQ(Begin(1, 10.0, 0x1), 0);
    EXPECT_EQ(zthost::DeviceStateText(10), L"405 nm 35.0% on, 488 nm 80.0% on");
    EXPECT_EQ(zthost::PendingCommandCount(100), 0);
    EXPECT_EQ(zthost::DeviceStateText(20), L"Port Both");
    EXPECT_EQ(zthost::DeviceStateText(30), L"Open");
    EXPECT_EQ(fake_atcore::ShownFrame().bytes, Rendered(3));

    ASSERT_EQ(m_device->StimulationEnd(nullptr, nullptr, 0), 0);
    EXPECT_EQ(zthost::DeviceStateText(10), L"405 nm 20.0% on, 488 nm 0.0% off");
    EXPECT_EQ(zthost::PendingCommandCount(100), 0);
    EXPECT_EQ(zthost::DeviceStateText(20), L"Port Left");
    EXPECT_EQ(zthost::DeviceStateText(30), L"Closed");
    EXPECT_EQ(ActivePattern(), 2u);

    // S2 has no laser settings of its own: its lines go dark for the stimulation.
    ASSERT_EQ(Begin(1, 10.0, 0x2), 0);
    EXPECT_EQ(zthost::DeviceStateText(10), L"405 nm 0.0% off, 488 nm 0.0% off");
    ASSERT_EQ(m_device->StimulationEnd(nullptr, nullptr, 0), 0);
    EXPECT_EQ(zthost::DeviceStateText(10), L"405 nm 20.0% on, 488 nm 0.0% off");
}

TEST_F(Stimulation, BeginShowsTheDarkPatternFirstAndUploadsNothing) {
    ASSERT_EQ(SetAreas(ThreeGroups()), 0);
    ASSERT_EQ(m_device->SetActivePatternId(1), 0);
    fake_atcore::ClearCalls();
    ASSERT_EQ(Begin(1, 10.0, 0x2), 0);
    // Dark, then S2; the frames come from the queued buffer, no upload command runs.
    EXPECT_EQ(Writes(), (std::vector<std::wstring>{L"Abort", L"Expose", L"Abort", L"Expose"}));
    fake_atcore::ClearCalls();
    double times[3] = {0.0, 0.0, 0.0};
    ASSERT_EQ(m_device->StimulationEnd(times, nullptr, 3), 0);
    EXPECT_EQ(Writes(), (std::vector<std::wstring>{L"Abort", L"Expose", L"Abort", L"Expose"}));
    EXPECT_EQ(times[1], -1.0);
    EXPECT_EQ(times[2], -1.0);
    EXPECT_EQ(ActivePattern(), 1u);
}

TEST_F(Stimulation, RunMode2HoldsTheWorkThreadUntilAborted) {
    ASSERT_EQ(SetAreas(ThreeGroups()), 0);
    std::atomic<int> result{1};
    std::atomic<bool> returned{false};
    std::thread work([&] {
        result = Begin(2, 60000.0, 0x4);
        returned = true;
        double start = 0.0;
        double end = 0.0;
        m_device->StimulationEnd(&start, &end, 1);
    });
    // The worker shows S3 and then waits; the main thread sees the pattern on the mirrors.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (!zthost::LogContains(L"Freezing until stimulation is finished (60000 ms).") &&
           std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    EXPECT_FALSE(returned);
    EXPECT_EQ(fake_atcore::ShownFrame().bytes, Rendered(5));
    EXPECT_EQ(m_device->StimulationAbort(), 0);
    work.join();
    EXPECT_EQ(result, 0);
    EXPECT_EQ(ActivePattern(), 0u);
    EXPECT_TRUE(AllDark(fake_atcore::ShownFrame()));

    // A run-mode-2 stimulation of no duration returns at once, on this thread too.
    ASSERT_EQ(Begin(2, 0.0, 0x1), 0);
    EXPECT_EQ(ActivePattern(), 3u);
    ASSERT_EQ(m_device->StimulationEnd(nullptr, nullptr, 0), 0);
}

// ---- Failures ----------------------------------------------------------------------------------

TEST_F(Stimulation, RequestsThatNameNoUsableGroupAreRefusedAndTheMirrorsStayDark) {
    CZtRoiObjectList areas;
    areas.Add(Area(1, 0, ZT_ROITYPE_RECTANGLE, {100.0, 100.0, 10.0, 10.0}));
    ASSERT_EQ(SetAreas(areas), 0);
    fake_atcore::ClearCalls();

    EXPECT_EQ(Begin(1, 10.0, 0), -4);
    EXPECT_EQ(Begin(1, 10.0, 0x8), -1);
    EXPECT_EQ(Begin(1, 10.0, 0x2), -9);
    EXPECT_EQ(m_device->GetLastStimulationError().Str(), L"Stimulation group S2 is not defined.");
    EXPECT_EQ(Begin(3, 10.0, 0x1), -4);
    EXPECT_EQ(m_device->StimulationBegin(nullptr), -4);
    EXPECT_TRUE(Writes().empty());
    // An end without a begin reports no times and leaves the dark pattern.
    double start = 0.0;
    double end = 0.0;
    EXPECT_EQ(m_device->StimulationEnd(&start, &end, 1), 0);
    EXPECT_EQ(end, -1.0);
    EXPECT_EQ(ActivePattern(), 0u);
    EXPECT_TRUE(AllDark(fake_atcore::ShownFrame()));
    EXPECT_EQ(m_device->StimulationFire(&start, &end), -9);
    EXPECT_EQ(start, -1.0);

    std::uint32_t group = 9;
    std::uint64_t bit = 9;
    EXPECT_EQ(m_device->GetGroupToStimulate(0x10, &group, &bit), 0);
    EXPECT_EQ(group, 9u);  // untouched: none of S1-S3
    EXPECT_EQ(m_device->GetGroupToStimulate(0x16, &group, &bit), 0);
    EXPECT_EQ(group, 1u);
    EXPECT_EQ(bit, 0x2u);
}

TEST_F(Stimulation, AreaSetsWithBrokenFormatsOrMasksKeepWhatWasSet) {
    ASSERT_EQ(SetAreas(ThreeGroups()), 0);
    CZtRoiObjectList areas;
    areas.Add(Area(1, 0, ZT_ROITYPE_RECTANGLE, {10.0, 10.0, 5.0, 5.0}));
    SZtRLEPicBuf masks;
    ZT_RoiListToRLE(&areas, kWidth, kHeight, &masks);
    SZtGrabberFormatDesc format = Format();
    format.value.binningY = 0.5;
    EXPECT_EQ(m_device->StimulationAreaSet(&areas, &masks, nullptr, &format, nullptr), -4);
    format = Format();
    EXPECT_EQ(m_device->StimulationAreaSet(&areas, &masks, nullptr, nullptr, nullptr), -4);

    SZtRLEPicBuf empty;
    EXPECT_EQ(m_device->StimulationAreaSet(&areas, &empty, nullptr, &format, nullptr), -4);
    SZtRLEPicBuf outside = masks;
    outside.objects[0].runs.push_back({599, 790, 20});
    EXPECT_EQ(m_device->StimulationAreaSet(&areas, &outside, nullptr, &format, nullptr), -4);
    EXPECT_EQ(m_device->StimulationAreaSet(nullptr, &masks, nullptr, &format, nullptr), -4);
    EXPECT_EQ(m_device->StimulationAreaGetCount(), 3);
    EXPECT_TRUE(m_device->StimulationIsReady());

    // Empty masks are areas that light nothing.
    SZtRLEPicBuf nothing = masks;
    nothing.objects[0].runs.clear();
    ASSERT_EQ(m_device->StimulationAreaSet(&areas, &nothing, nullptr, &format, nullptr), 0);
    ASSERT_EQ(Begin(1, 10.0, 0x1), 0);
    EXPECT_TRUE(AllDark(fake_atcore::ShownFrame()));
    EXPECT_EQ(m_device->StimulationEnd(nullptr, nullptr, 0), 0);
}

TEST_F(Stimulation, ASecondBeginWhileOneRunsIsRefusedAndTheFirstEndsNormally) {
    ASSERT_EQ(SetAreas(ThreeGroups()), 0);
    ASSERT_EQ(m_device->SetActivePatternId(2), 0);
    ASSERT_EQ(Begin(1, 10.0, 0x1), 0);
    EXPECT_TRUE(m_device->IsStimulationRunning());
    EXPECT_EQ(Begin(1, 10.0, 0x2), -10);
    EXPECT_EQ(ActivePattern(), 3u);
    ASSERT_EQ(m_device->StimulationEnd(nullptr, nullptr, 0), 0);
    EXPECT_EQ(ActivePattern(), 2u);
}

TEST_F(Stimulation, WithoutADriverNothingRuns) {
    m_device->Connect(false, 0, -1);
    EXPECT_EQ(Begin(1, 10.0, 0x1), -12);
    EXPECT_EQ(m_device->StimulationEnd(nullptr, nullptr, 0), 0);
    EXPECT_EQ(SetAreas(ThreeGroups()), 0);  // kept for the next connect
    EXPECT_EQ(m_device->StimulationAreaGetCount(), 3);
    SZtPicBuf picture;
    EXPECT_EQ(m_device->GetPatternCameraProjection(3, &picture, nullptr, nullptr, 0, 0, 0), 21);
    EXPECT_EQ(m_device->SetOperationMode(5), 21);
    m_device->ManualShotBegin(1, 0.0);
    EXPECT_FALSE(m_device->IsManualShotActive());
    EXPECT_TRUE(zthost::ManualShotCalls().empty());
}

// ---- Manual shots ------------------------------------------------------------------------------

TEST_F(Stimulation, SwitchingTheDeviceOffEndsItsManualShot) {
    ASSERT_EQ(SetAreas(ThreeGroups()), 0);
    m_device->SetActive(true);
    m_device->ManualShotBegin(0x4, 0.0);
    ASSERT_EQ(ActivePattern(), 5u);
    m_device->SetActive(false);
    EXPECT_FALSE(m_device->IsManualShotActive());
    EXPECT_EQ(ActivePattern(), 0u);
}

// An aggregator that answers as a stimulation device of its own name, as the host sees it.
class NamedAggregator : public RecordingAggregator, public StimulationDeviceStub<> {
public:
    NamedAggregator() : StimulationDeviceStub(L"CZtVeroveAggregator_0") {}
    void* QueryInterface(const char* name) override {
        if (std::string(name) == "IZtStimulationDevice") {
            AddRef();
            return static_cast<IZtStimulationDevice*>(this);
        }
        return RecordingAggregator::QueryInterface(name);
    }
};

TEST_F(Stimulation, ShotsAndBitDepthsUnderAnAggregatorGoByItsName) {
    auto* aggregator = new NamedAggregator;
    ASSERT_EQ(m_device->SetControllingAggregator(aggregator), 0);
    EXPECT_EQ(m_device->GetControllingDevice(), L"CZtVeroveAggregator_0");
    m_device->ManualShotBegin(0x1, 5.0);
    ASSERT_EQ(zthost::ManualShotCalls().size(), 1u);
    EXPECT_EQ(zthost::ManualShotCalls()[0].deviceName, L"CZtVeroveAggregator_0");
    EXPECT_EQ(zthost::ManualShotCalls()[0].result, -5);  // the host knows no such device
    EXPECT_FALSE(m_device->IsManualShotActive());

    // A new depth is announced to the aggregator, unless it came from another device.
    EXPECT_EQ(m_device->SetBitDepth(8, false), 0);
    EXPECT_EQ(aggregator->reasons, std::vector<int>{ZT_AGGREGATOR_BIT_DEPTH});
    DevicePtr other(new CZtStimulationDeviceVerove());
    ASSERT_EQ(other->SetBitDepth(4, false), 0);
    EXPECT_EQ(m_device->TakeOverBitDepth(static_cast<IZtStimulationDeviceEx*>(other.get())), 0);
    EXPECT_EQ(aggregator->reasons.size(), 1u);

    ASSERT_EQ(m_device->SetControllingAggregator(nullptr), 0);
    aggregator->Release();
    EXPECT_EQ(m_device->GetControllingDevice(), kName);
}

// ---- Bit depth ---------------------------------------------------------------------------------

TEST_F(Stimulation, BitDepthChangesShowTheCurrentPatternAgainAtTheNewDepth) {
    ASSERT_EQ(SetAreas(ThreeGroups()), 0);
    ASSERT_EQ(m_device->SetActivePatternId(2), 0);
    zthost::ClearCapturedLog();
    zthost::ClearMacroRecords();
    EXPECT_EQ(m_device->SetBitDepth(6, false), 0);
    EXPECT_EQ(m_device->GetBitDepth(), 6);
    EXPECT_FALSE(m_device->StimulationIsReady());  // the areas wait to be set again
    const fake_atcore::MirrorFrame shown = fake_atcore::ShownFrame();
    EXPECT_EQ(shown.encoding, L"6BitDIP");
    EXPECT_EQ(shown.bytes, Rendered(2));
    EXPECT_EQ(zthost::PictureRedrawRequests(), std::vector<int>{4});
    EXPECT_TRUE(zthost::CliCommands().empty());

    // The same depth again changes nothing on the device but still redraws.
    fake_atcore::ClearCalls();
    EXPECT_EQ(m_device->SetBitDepth(6, false), 0);
    EXPECT_TRUE(Writes().empty());
    EXPECT_EQ(zthost::PictureRedrawRequests(), (std::vector<int>{4, 4}));

    EXPECT_EQ(m_device->SetBitDepth(3, false), -4);
    EXPECT_EQ(m_device->GetBitDepth(), 6);
    EXPECT_EQ(zthost::PictureRedrawRequests().size(), 2u);

    // A grey-scale stimulation opens on the grey-scale frame of its group.
    ASSERT_EQ(SetAreas(ThreeGroups()), 0);
    ASSERT_EQ(Begin(1, 10.0, 0x2), 0);
    EXPECT_EQ(fake_atcore::ShownFrame().bytes, Rendered(4));
    ASSERT_EQ(m_device->StimulationEnd(nullptr, nullptr, 0), 0);
    EXPECT_EQ(fake_atcore::ShownFrame().bytes, Rendered(2));
}

TEST_F(Stimulation, ABitDepthChangeRestartsARunningManualShotThroughTheCommandLine) {
    ASSERT_EQ(SetAreas(ThreeGroups()), 0);
    m_device->ManualShotBegin(0x1, 0.0);
    ASSERT_EQ(ActivePattern(), 3u);
    EXPECT_EQ(m_device->SetBitDepth(4, false), 0);
    EXPECT_EQ(zthost::CliCommands(),
              (std::vector<std::wstring>{
                  L"ManualShot(\"CZtStimulationDeviceVerove_0\", 0, 0.0, 1);",
                  L"ManualShot(\"CZtStimulationDeviceVerove_0\", 1, 0.000000, 1);"}));
    EXPECT_TRUE(m_device->IsManualShotActive());
    EXPECT_EQ(ActivePattern(), 3u);
    const fake_atcore::MirrorFrame shown = fake_atcore::ShownFrame();
    EXPECT_EQ(shown.encoding, L"4BitDIP");
    EXPECT_EQ(shown.bytes, Rendered(3));
    // Only the plug-in's own begin goes to the protocol; the command lines run the host's.
    EXPECT_EQ(zthost::ProtocolLines().size(), 1u);

    // Without the host's procedure the shot keeps running as it is.
    zthost::UnregisterProcedure(L"ManualShot");
    EXPECT_EQ(m_device->SetBitDepth(1, false), 0);
    EXPECT_EQ(zthost::CliCommands().size(), 3u);  // the restart line was tried, and refused
    EXPECT_FALSE(m_device->IsManualShotActive());
    m_device->ManualShotEnd();
    EXPECT_EQ(ActivePattern(), 0u);
}

// ---- Illumination sequences --------------------------------------------------------------------

TEST_F(Stimulation, AnIlluminationSequenceIsProgrammedAndLeftWithDeferredDeviceChanges) {
    SZtIlluminationSequence sequence;
    sequence.steps = {{1, 2, 10.0, 5.0}, {2, 1, 20.0, 0.0}, {1, 1, 10.0, 0.0}};
    sequence.repeatCount = 3;
    EXPECT_EQ(m_device->SetIlluminationSequence(&sequence), 21);  // no external trigger
    m_device->GetSettings().externalTriggerSet = true;
    ASSERT_EQ(m_device->SetActivePatternId(2), 0);
    SZtIlluminationSequence unknown;
    unknown.steps = {{77, 1, 10.0, 0.0}};
    EXPECT_EQ(m_device->SetIlluminationSequence(&unknown), 21);
    ASSERT_EQ(m_device->SetIlluminationSequence(&sequence), 0);
    EXPECT_EQ(m_device->GetSequencePoolSize(), 2);

    fake_atcore::ClearCalls();
    ASSERT_EQ(m_device->SetOperationMode(5), 0);
    std::int32_t state = 0;
    EXPECT_EQ(m_device->GetIlluminationSequenceState(&state), 0);
    EXPECT_EQ(state, 5);
    // Each step as a sequence event: its pool frame, cycles, exposure and gap in seconds; the
    // repeats as the loop count.
    const std::vector<fake_atcore::SequenceEvent> events = fake_atcore::SequenceEvents();
    ASSERT_EQ(events.size(), 3u);
    const fake_atcore::SequenceEvent expected[3] = {
        {0, 1, 2, 0.01, 0.005}, {1, 1, 1, 0.02, 0.0}, {0, 1, 1, 0.01, 0.0}};
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(events[i].frameIndex, expected[i].frameIndex) << i;
        EXPECT_EQ(events[i].frameCycleCount, expected[i].frameCycleCount) << i;
        EXPECT_DOUBLE_EQ(events[i].exposureTime, expected[i].exposureTime) << i;
        EXPECT_DOUBLE_EQ(events[i].gapTime, expected[i].gapTime) << i;
    }
    const std::vector<std::wstring> writes = Writes();
    EXPECT_NE(std::find(writes.begin(), writes.end(), L"SequenceLoopCount=4"), writes.end());
    const std::vector<fake_atcore::MirrorFrame> frames = fake_atcore::FrameMemory();
    ASSERT_EQ(frames.size(), 2u);
    EXPECT_TRUE(std::all_of(frames[0].bytes.begin(), frames[0].bytes.end(),
                            [](std::uint8_t b) { return b == 0xFF; }));
    EXPECT_EQ(frames[1].bytes, Rendered(2));
    // The mirrors belong to the sequence: no stimulation switches them meanwhile.
    ASSERT_EQ(SetAreas(ThreeGroups()), 0);
    EXPECT_EQ(Begin(1, 10.0, 0x1), -8);
    EXPECT_EQ(fake_atcore::FrameMemory().size(), 2u);

    // A change of the light path waits for the sequence.
    const std::uint32_t ids[] = {42};
    zthost::ClearCapturedLog();
    m_device->ValidateAndApplySettings();  // start-up done
    EXPECT_EQ(m_device->HandleDeviceChanged(ids, 1), 0);
    EXPECT_TRUE(HasLine("HandleDeviceChanged",
                        L"Handling devicechange delayed until Illumination Sequence done."));
    zthost::ClearCapturedLog();
    fake_atcore::ClearCalls();
    ASSERT_EQ(m_device->SetOperationMode(0), 0);
    EXPECT_EQ(m_device->GetIlluminationSequenceState(&state), 0);
    EXPECT_EQ(state, 0);
    EXPECT_TRUE(HasLine("HandleDeviceChanged", L"End"));  // the held change ran
    EXPECT_EQ(m_device->GetSequencePoolSize(), 0);
    EXPECT_EQ(ActivePattern(), 2u);
    const fake_atcore::MirrorFrame shown = fake_atcore::ShownFrame();
    EXPECT_EQ(shown.frameIndex, -1);
    EXPECT_EQ(shown.bytes, Rendered(2));
    const std::vector<std::wstring> back = Writes();
    EXPECT_NE(std::find(back.begin(), back.end(), L"OperationMode=Live"), back.end());
    EXPECT_NE(std::find(back.begin(), back.end(), L"TriggerMode=InternalSoftware"), back.end());
}

// ---- ND experiments ----------------------------------------------------------------------------

SZtExperiment PhasesExperiment(std::vector<SZtExperimentPhase> phases) {
    SZtExperiment nd;
    SZtExperiment multi;
    multi.type = 8;
    multi.phases = std::move(phases);
    nd.children.push_back(multi);
    return nd;
}

std::uint32_t Stimulating(std::uint32_t groups) {
    return 1u | (groups << ZT_STIMULATION_GROUP_SHIFT);
}

TEST_F(Stimulation, ValidationWantsALaserLineForEveryUsedGroupOfS1AndS2) {
    SZtVeroveLaserLine line;
    line.wavelength = 488;
    m_device->GetSettings().laserLines = {line};
    CZtStringW error;
    SZtExperiment experiment = PhasesExperiment({{Stimulating(0x2), 500.0}});
    EXPECT_EQ(m_device->StimulationValidate(&experiment, &error), -9);
    EXPECT_EQ(error.Str(), L"Andor Verove 3: No laser lines enabled for stimulation group 2.");

    // S3 is not checked; disabled phases and phases that do not stimulate are not either.
    experiment = PhasesExperiment({{Stimulating(0x4), 500.0}, {0x2u << 2, 100.0}});
    EXPECT_EQ(m_device->StimulationValidate(&experiment, &error), 0);
    experiment = PhasesExperiment({{Stimulating(0x1), 500.0}});
    experiment.children[0].phaseEnabled = {false};
    EXPECT_EQ(m_device->StimulationValidate(&experiment, &error), 0);
    // A parallel stimulation task counts like a phase.
    experiment = PhasesExperiment({});
    SZtParallelExperiment task;
    task.kind = SZtParallelExperiment::ID_TASK_STIMULATION;
    task.stimulation = Stimulating(0x1);
    experiment.children[0].parallelTasks.push_back(task);
    EXPECT_EQ(m_device->StimulationValidate(&experiment, &error), -9);
    EXPECT_EQ(error.Str(), L"Andor Verove 3: No laser lines enabled for stimulation group 1.");

    m_device->GetSettings().laserLines[0].used[0] = true;
    EXPECT_EQ(m_device->StimulationValidate(&experiment, &error), 0);
    EXPECT_EQ(m_device->StimulationValidate(nullptr, &error), -4);
}

TEST_F(Stimulation, AValidatedNdSequenceCountsItsPhasesUntilTheyHaveRun) {
    m_device->OnNDExperiment(0);
    EXPECT_EQ(m_device->GetExperimentState(), 0);
    m_device->OnNDExperiment(1);
    EXPECT_EQ(m_device->GetExperimentState(), 1);
    int actions = 0;
    EXPECT_EQ(m_device->OnPluginNDSequence_Validate(&actions), 0);
    EXPECT_EQ(m_device->GetExperimentState(), 2);
    EXPECT_TRUE(m_device->HasCapabilityNow(20));
    CZtStringW error;
    SZtExperiment experiment = PhasesExperiment({{Stimulating(0x4), 500.0}});
    EXPECT_EQ(m_device->StimulationValidate(&experiment, &error), 0);
    EXPECT_EQ(m_device->StimulationValidate(&experiment, &error), 0);
    EXPECT_EQ(m_device->OnNDExperiment(1), 0);
    EXPECT_EQ(m_device->GetExperimentState(), 2);
    EXPECT_EQ(m_device->OnNDExperiment(1), 0);
    EXPECT_EQ(m_device->GetExperimentState(), 1);

    EXPECT_EQ(m_device->OnPluginNDSequence_Validate(&actions), 0);
    EXPECT_EQ(m_device->StimulationAbort(), 0);
    EXPECT_EQ(m_device->GetExperimentState(), 1);
}

// ---- Pattern interface -------------------------------------------------------------------------

TEST_F(Stimulation, CameraProjectionOfAGroupPatternIsItsAreaMask) {
    const CZtRoiObjectList areas = ThreeGroups();
    ASSERT_EQ(SetAreas(areas), 0);
    SZtPicBuf picture;
    const SZtRect full{0, 0, kWidth, kHeight};
    ASSERT_EQ(m_device->GetPatternCameraProjection(3, &picture, &full, &full, 1.0, 1.0, 0.0), 0);
    ASSERT_EQ(picture.width, static_cast<std::uint32_t>(kWidth));
    ASSERT_EQ(picture.height, static_cast<std::uint32_t>(kHeight));
    EXPECT_EQ(CZtPicBufAPI::GetValue(&picture, 150, 125), 255u);
    EXPECT_EQ(CZtPicBufAPI::GetValue(&picture, 400, 300), 0u);
    EXPECT_EQ(CZtPicBufAPI::GetValue(&picture, 99, 125), 0u);

    EXPECT_EQ(m_device->GetPatternCameraProjection(3, nullptr, &full, &full, 1.0, 1.0, 0.0), 21);
    EXPECT_EQ(m_device->GetPatternCameraProjection(77, &picture, &full, &full, 1.0, 1.0, 0.0), 21);
    EXPECT_EQ(m_device->GetPatternCameraProjection(4 + 0, &picture, &full, nullptr, 1.0, 1.0, 0.0),
              0);
    EXPECT_EQ(CZtPicBufAPI::GetValue(&picture, 400, 300), 255u);
}

// ---- Areas appended as a user pattern ---------------------------------------------------------

TEST_F(Stimulation, AppendedAreasBecomeABitmapPatternInCameraCoordinates) {
    LoadSettingsFromHost();
    zthost::SetTranslation(L"Open Image", L"Bild \u00f6ffnen");
    zthost::SetStoragePath(m_dir.path().toStdWString());
    CZtRoiObjectList areas;
    areas.Add(Area(1, 0, ZT_ROITYPE_RECTANGLE, {100.0, 50.0, 20.0, 10.0}));
    areas.Add(Area(2, 2, ZT_ROITYPE_RECTANGLE, {700.0, 500.0, 5.0, 5.0}));
    ASSERT_EQ(SetAreas(areas), 0);
    const QString folder = m_dir.filePath("Verove");
    const QString path = QDir(folder).filePath("Spots.bmp");
    zthost::QueueSaveFileChoice(path.toStdWString());

    ASSERT_EQ(m_device->StimulationAreaAppendAsPattern(), 0);

    const std::vector<zthost::SaveFileDialogRecord> dialogs = zthost::SaveFileDialogs();
    ASSERT_EQ(dialogs.size(), 1u);
    EXPECT_EQ(dialogs[0].title, L"Bild \u00f6ffnen");
    EXPECT_EQ(dialogs[0].folder, folder.toStdWString());
    EXPECT_EQ(dialogs[0].name, L"Pattern.bmp");
    EXPECT_TRUE(QFileInfo(folder).isDir());
    SZtPicBuf picture;
    ASSERT_EQ(ZT_LoadPictureFromFile(path.toStdWString().c_str(), &picture), 0);
    ASSERT_EQ(picture.width, static_cast<std::uint32_t>(kWidth));
    ASSERT_EQ(picture.height, static_cast<std::uint32_t>(kHeight));
    const auto pixel = [&](int x, int y) { return picture.data[y * picture.stride + x]; };
    EXPECT_EQ(pixel(81, 41), 255);
    EXPECT_EQ(pixel(79, 50), 0);
    EXPECT_EQ(pixel(700, 500), 255);
    EXPECT_EQ(pixel(400, 300), 0);
    EXPECT_TRUE(m_device->HasPattern(L"Spots"));
    CZtVeroveSettings stored;
    ASSERT_EQ(CZtVeroveSettingsFile::Load(m_device->GetSettingsFileName(), kName, &stored), 0);
    ASSERT_EQ(stored.bitmaps.size(), 1u);
    EXPECT_EQ(stored.bitmaps[0].filePath.Str(), path.toStdWString());
    EXPECT_EQ(stored.bitmaps[0].mapping, 1);  // camera coordinates
}

TEST_F(Stimulation, AppendingAsPatternThatIsCancelledFailsOrHasNoAreasAddsNothing) {
    LoadSettingsFromHost();
    zthost::SetStoragePath(m_dir.path().toStdWString());
    EXPECT_EQ(m_device->StimulationAreaAppendAsPattern(), -9);
    EXPECT_TRUE(zthost::SaveFileDialogs().empty());

    CZtRoiObjectList areas;
    areas.Add(Area(1, 0, ZT_ROITYPE_RECTANGLE, {100.0, 50.0, 20.0, 10.0}));
    ASSERT_EQ(SetAreas(areas), 0);
    m_device->SaveSettings();
    const QString settingsFile =
        QDir(m_dir.path()).filePath(QString::fromStdWString(m_device->GetSettingsFileName().Str()));
    QFile before(settingsFile);
    ASSERT_TRUE(before.open(QIODevice::ReadOnly));
    const QByteArray content = before.readAll();
    before.close();

    // No choice queued: the user cancels.
    EXPECT_EQ(m_device->StimulationAreaAppendAsPattern(), 1);
    // A folder that does not exist cannot take the file.
    const std::wstring unwritable = m_dir.filePath("missing/Spots.bmp").toStdWString();
    zthost::QueueSaveFileChoice(unwritable);
    EXPECT_LT(m_device->StimulationAreaAppendAsPattern(), 0);

    EXPECT_EQ(zthost::SaveFileDialogs().size(), 2u);
    EXPECT_FALSE(m_device->HasPattern(L"Spots"));
    QFile after(before.fileName());
    ASSERT_TRUE(after.open(QIODevice::ReadOnly));
    EXPECT_EQ(after.readAll(), content);
}

}  // namespace
