// The host's documents as a user sees them: live mode and freeze, capture documents made from
// samples, views, look-up tables, calibration, ROIs, and the host's view, GUI and focus settings.
#include <gtest/gtest.h>

#include <mutex>
#include <utility>
#include <vector>

#include "zt/zt_acquisition.h"
#include "zt/zt_camera.h"
#include "zt/zt_devices.h"
#include "zt/zt_document.h"
#include "zt/zt_util.h"
#include "zthost/camera_control.h"
#include "zthost/microscope.h"
#include "zthost/optics.h"
#include "zthost/zthost.h"

namespace {

// Records what live mode tells the camera-update listeners.
class LiveListener : public CZtCameraUpdate {
public:
    ~LiveListener() override { UnregisterCameraUpdate(); }
    int LiveChanged(bool live, bool userRequest) override {
        std::lock_guard lock(m_mutex);
        m_changes.emplace_back(live, userRequest);
        return 0;
    }
    std::vector<std::pair<bool, bool>> Changes() {
        std::lock_guard lock(m_mutex);
        return m_changes;
    }

private:
    std::mutex m_mutex;
    std::vector<std::pair<bool, bool>> m_changes;
};

// Releases a host document when the test is done with it.
struct DocumentRef {
    IZtDocument* document = nullptr;
    explicit DocumentRef(IZtDocument* d) : document(d) {}
    ~DocumentRef() {
        if (document) {
            document->Release();
        }
    }
    DocumentRef(const DocumentRef&) = delete;
    DocumentRef& operator=(const DocumentRef&) = delete;
    IZtDocument* operator->() const { return document; }
};

std::wstring CurrentTitle() {
    DocumentRef current(ZT_GetCurrentDocument());
    return current.document ? current->GetTitle().Str() : L"(none)";
}

class HostDocuments : public ::testing::Test {
protected:
    void SetUp() override {
        zthost::ResetForTests();
        zthost::CameraSetup camera;
        camera.name = L"Cam1";
        camera.grabberIndex = 2;
        camera.sensorWidth = 320;
        camera.sensorHeight = 240;
        camera.bitDepth = 12;
        ASSERT_EQ(zthost::SetCamera(camera), 0);
        zthost::OpticsSetup optics;
        optics.dmdToSensor = {0.25, 0.0, 60.0, 0.0, 0.25, 45.0};  // the DMD over the middle
        optics.shotNoise = false;
        optics.readNoise = 0.0;
        optics.offset = 100.0;
        optics.background = 0.0;
        ASSERT_EQ(zthost::SetOptics(optics), 0);
    }
    void TearDown() override { zthost::ResetForTests(); }
};

}  // namespace

// ---- Live mode ---------------------------------------------------------------------------------

TEST_F(HostDocuments, LiveModeShowsTheCameraInItsCaptureDocumentUntilFrozen) {
    LiveListener listener;
    EXPECT_FALSE(ZT_IsLive());
    EXPECT_FALSE(ZT_HasLiveOrFrozenDocument());
    EXPECT_EQ(ZT_LiveStart(0), -4);

    ASSERT_EQ(ZT_LiveStart(2), 0);
    EXPECT_TRUE(ZT_IsLive());
    EXPECT_EQ(ZT_GetLiveMode(), 2);
    EXPECT_TRUE(ZT_HasLiveOrFrozenDocument());
    std::vector<zthost::DocumentInfo> documents = zthost::Documents();
    ASSERT_EQ(documents.size(), 1u);
    EXPECT_EQ(documents[0].tag, 2u) << "tagged with the camera's grabber index";
    EXPECT_TRUE(documents[0].current);
    EXPECT_TRUE(documents[0].live);
    EXPECT_EQ(documents[0].pictureWidth, 320u) << "live mode shows a frame at once";
    EXPECT_EQ(listener.Changes(), (std::vector<std::pair<bool, bool>>{{true, false}}));

    // The live picture follows the DMD; the document's format follows the camera.
    SZtPicBuf picture;
    ASSERT_EQ(zthost::DocumentPicture(0, &picture), 0);
    EXPECT_EQ(CZtPicBufAPI::GetValue(&picture, 160, 120), 100u);
    zthost::SetMirrorFrameSource([] {
        return zthost::MirrorFrame{800, 600, std::vector<std::uint8_t>(800 * 600, 255)};
    });
    ASSERT_EQ(zthost::GrabLiveFrame(), 0);
    ASSERT_EQ(zthost::DocumentPicture(0, &picture), 0);
    EXPECT_NEAR(CZtPicBufAPI::GetValue(&picture, 160, 120), 1100.0, 15.0);
    zthost::CameraSetup camera = zthost::Camera();
    camera.binningX = camera.binningY = 2.0;
    ASSERT_EQ(zthost::SetCamera(camera), 0);
    SZtGrabberFormatDesc format;
    ASSERT_EQ(ZT_GetDocumentCameraFormat(&format), 0);
    EXPECT_EQ(format.value.binningX, 2.0);

    // Starting again changes the mode only.
    ASSERT_EQ(ZT_LiveStart(1), 0);
    EXPECT_EQ(ZT_GetLiveMode(), 1);
    EXPECT_EQ(listener.Changes().size(), 1u);

    ASSERT_EQ(ZT_Freeze(), 0);
    EXPECT_FALSE(ZT_IsLive());
    EXPECT_EQ(ZT_GetLiveMode(), 1) << "the mode it ran in last";
    EXPECT_TRUE(ZT_HasLiveOrFrozenDocument()) << "the frozen picture stays open";
    documents = zthost::Documents();
    ASSERT_EQ(documents.size(), 1u);
    EXPECT_FALSE(documents[0].live);
    EXPECT_EQ(documents[0].pictureWidth, 160u) << "the last frame live mode showed, binned";
    EXPECT_EQ(zthost::GrabLiveFrame(), -9);
    camera.binningX = camera.binningY = 1.0;
    ASSERT_EQ(zthost::SetCamera(camera), 0);
    ASSERT_EQ(ZT_GetDocumentCameraFormat(&format), 0);
    EXPECT_EQ(format.value.binningX, 2.0) << "a frozen picture keeps the format it was taken with";
    ASSERT_EQ(ZT_Freeze(), 0);
    EXPECT_EQ(listener.Changes(),
              (std::vector<std::pair<bool, bool>>{{true, false}, {false, false}}));

    // Live again reuses the camera's capture document.
    ASSERT_EQ(ZT_LiveStart(2), 0);
    EXPECT_EQ(zthost::Documents().size(), 1u);
    EXPECT_TRUE(zthost::Documents()[0].live);
}

TEST_F(HostDocuments, LiveModeNeedsACamera) {
    zthost::CameraSetup camera = zthost::Camera();
    camera.hasCamera = false;
    ASSERT_EQ(zthost::SetCamera(camera), 0);
    EXPECT_EQ(ZT_LiveStart(2), -6);
    zthost::SetGrabberPresent(false);
    EXPECT_EQ(ZT_LiveStart(2), -12);
    EXPECT_FALSE(ZT_IsLive());
    EXPECT_TRUE(zthost::Documents().empty());
}

TEST_F(HostDocuments, ClosingTheLiveDocumentStopsLiveMode) {
    LiveListener listener;
    EXPECT_EQ(ZT_CloseCurrentDocument(), -5);
    ASSERT_EQ(ZT_LiveStart(2), 0);
    DocumentRef live(ZT_GetCurrentDocument());
    ASSERT_NE(live.document, nullptr);
    ASSERT_EQ(ZT_CloseCurrentDocument(), 0);
    EXPECT_FALSE(ZT_IsLive());
    EXPECT_FALSE(ZT_HasLiveOrFrozenDocument());
    EXPECT_EQ(listener.Changes().back(), std::make_pair(false, false));
    // A closed document still answers, but is gone from the host.
    EXPECT_EQ(live->ActivateView(0), -5);
    EXPECT_EQ(ZT_FindCaptureDocument(2), nullptr);
}

// ---- A calibration document --------------------------------------------------------------------

TEST_F(HostDocuments, CaptureDocumentMadeFromASampleIsFoundByItsTagAndShowsNewSamples) {
    ASSERT_EQ(ZT_LiveStart(2), 0);
    ASSERT_EQ(ZT_Freeze(), 0);
    CZtGrabberSample sample;
    ASSERT_EQ(sample.Capture(), 0);

    IZtDocument* created = nullptr;
    CZtGrabberSample empty;
    EXPECT_EQ(ZT_CreateDocumentFromSample(&empty, L"DMD Calibration", &created), -9);
    EXPECT_EQ(ZT_CreateDocumentFromSample(&sample, nullptr, &created), -4);
    ASSERT_EQ(ZT_CreateDocumentFromSample(&sample, L"DMD Calibration", &created), 0);
    DocumentRef calibration(created);
    EXPECT_EQ(CurrentTitle(), L"DMD Calibration");
    EXPECT_EQ(calibration->SetLookUpTables(10, 10), -4);
    ASSERT_EQ(calibration->SetLookUpTables(0, 4095), 0);
    int view = -1;
    ASSERT_EQ(calibration->AddView(&view), 0);
    EXPECT_EQ(view, 0);
    ASSERT_EQ(calibration->SetTag(7), 0);
    {
        DocumentRef found(ZT_FindCaptureDocument(7));
        EXPECT_EQ(found.document, calibration.document);
        EXPECT_EQ(ZT_FindCaptureDocument(3), nullptr);
    }

    // A new sample.
    zthost::SetMirrorFrameSource([] {
        return zthost::MirrorFrame{800, 600, std::vector<std::uint8_t>(800 * 600, 255)};
    });
    ASSERT_EQ(sample.Capture(), 0);
    ASSERT_EQ(calibration->LoadSample(&sample, nullptr), 0);
    ASSERT_EQ(calibration->RefreshViews(), 0);
    SZtPicBuf picture;
    ASSERT_EQ(calibration->GetPicture(&picture), 0);
    EXPECT_NEAR(CZtPicBufAPI::GetValue(&picture, 160, 120), 1100.0, 15.0);

    // The picture's scale, as the calibration sets it.
    SZtCalibrationAttr attr{6.5, 10.0};
    ASSERT_EQ(calibration->SetCalibration(&attr), 0);
    ASSERT_EQ(calibration->SetCameraZoom(1.5), 0);
    std::vector<zthost::DocumentInfo> documents = zthost::Documents();
    ASSERT_EQ(documents.size(), 2u);
    EXPECT_EQ(documents[1].refreshCount, 1);
    EXPECT_EQ(documents[1].calibration.pixelSize, 6.5);
    EXPECT_EQ(documents[1].cameraZoom, 1.5);

    // Closing it brings back the frozen live document, whose view is activated by its tag.
    ASSERT_EQ(ZT_CloseCurrentDocument(), 0);
    EXPECT_FALSE(calibration->IsOpen());
    EXPECT_EQ(CurrentTitle(), L"Cam1");
    ASSERT_EQ(ZT_LiveStart(2), 0);
    DocumentRef live(ZT_FindCaptureDocument(2));
    ASSERT_NE(live.document, nullptr);
    EXPECT_EQ(live->ActivateView(1), -5);
    ASSERT_EQ(live->ActivateView(0), 0);
    documents = zthost::Documents();
    ASSERT_EQ(documents.size(), 1u);
    EXPECT_EQ(documents[0].activeView, 0);
    EXPECT_TRUE(documents[0].live);
}

// ---- ROIs --------------------------------------------------------------------------------------

// The calibration's point ROIs and their clearing are asserted through the plug-in in the
// Autocalibration suite; the stimulation flag and the numbering are the host's own.
TEST_F(HostDocuments, RoisAreNumberedNeverReusedAndOnlyMarkedOnesStimulate) {
    CZtGrabberSample sample;
    ASSERT_EQ(sample.Capture(), 0);
    IZtDocument* created = nullptr;
    ASSERT_EQ(ZT_CreateDocumentFromSample(&sample, L"Rois", &created), 0);
    DocumentRef document(created);
    EXPECT_EQ(document->AddRoi(nullptr), -4);
    CZtRoiObject rectangle(ZT_ROITYPE_RECTANGLE, {160.0, 120.0, 160.0, 120.0});
    rectangle.SetId(77);
    ASSERT_EQ(document->AddRoi(&rectangle), 0);
    EXPECT_FALSE(document->HasStimulationRoi()) << "not marked for stimulation";
    rectangle.SetStimulation(true);
    ASSERT_EQ(document->AddRoi(&rectangle), 0);
    EXPECT_TRUE(document->HasStimulationRoi());

    ASSERT_EQ(document->ClearAllRois(L"Clear all ROIs"), 0);
    EXPECT_FALSE(document->HasStimulationRoi());
    ASSERT_EQ(document->AddRoi(&rectangle), 0);
    CZtRoiObjectList rois;
    ASSERT_EQ(document->GetRois(&rois), 0);
    ASSERT_EQ(rois.GetCount(), 1);
    EXPECT_EQ(rois.GetAt(0)->GetId(), 3u) << "the document numbers its ROIs and never reuses one";
}

// ---- Objective -----------------------------------------------------------------------------

TEST_F(HostDocuments, SelectedObjectiveComesFromTheNosepieceAndTheDatabase) {
    SZtObjective objective;
    ASSERT_EQ(ZT_GetSelectedObjective(&objective), 0);
    EXPECT_EQ(objective.name, L"Uncalibrated") << "no nosepiece";
    EXPECT_EQ(objective.m_attr.pixelSize, 0.0);

    zthost::LogicalDeviceSetup nosepiece;
    nosepiece.id = 5;
    nosepiece.type = ZT_LOGDEV_NOSEPIECE;
    nosepiece.key = L"Nosepiece";
    nosepiece.positionNames = {L"P10", L"P20", L"P60"};
    nosepiece.position = 1;
    ASSERT_EQ(zthost::AddLogicalDevice(nosepiece), 0);
    zthost::SetObjective(L"P20", L"Air 20x", 0.325, 50.0);
    ASSERT_EQ(ZT_GetSelectedObjective(&objective), 0);
    EXPECT_EQ(objective.name, L"Air 20x");
    EXPECT_EQ(objective.m_attr.pixelSize, 0.325);

    nosepiece.position = 2;
    ASSERT_EQ(zthost::UpdateLogicalDevice(nosepiece), 0);
    ASSERT_EQ(ZT_GetSelectedObjective(&objective), 0);
    EXPECT_EQ(objective.code, L"P60");
    EXPECT_EQ(objective.name, L"Uncalibrated") << "a code the database does not know";
}

// ---- Threads -----------------------------------------------------------------------------------
