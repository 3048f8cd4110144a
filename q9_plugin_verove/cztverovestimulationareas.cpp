// The stimulation areas the host sets and the group patterns S1-S3 built from them.
#include "cztverovestimulationareas.h"

#include <QDir>
#include <QFileInfo>

#include "cztref.h"
#include "cztstimulationdeviceverove.h"
#include "cztverovepadwrapper.h"
#include "verove_log.h"
#include "verovestatus.h"
#include "zt/zt_settings.h"
#include "zt/zt_util.h"

namespace {

// Whether every area has its mask and every run lies inside the masks' frame.
bool MasksFitAreas(const CZtRoiObjectList& areas, const SZtRLEPicBuf& masks) {
    if (masks.objects.size() < static_cast<size_t>(areas.GetCount())) {
        return false;
    }
    if (areas.GetCount() > 0 && (masks.width == 0 || masks.height == 0)) {
        return false;
    }
    for (const SZtRLEObject& object : masks.objects) {
        for (const SZtRLERun& run : object.runs) {
            if (run.y < 0 || run.y >= static_cast<std::int64_t>(masks.height) || run.x < 0 ||
                run.length <= 0 ||
                std::int64_t{run.x} + run.length > static_cast<std::int64_t>(masks.width)) {
                return false;
            }
        }
    }
    return true;
}

}  // namespace

bool CZtVeroveStimulationAreas::ReadScanAreaForm(IZtGrabberProvider* grabber,
                                                 SZtScanAreaDesc* desc) {
    IZtInterface* answer = nullptr;
    if (!grabber || grabber->GetGUIElement(L"CZtScanAreaElement", &answer) != 0 || !answer) {
        return false;
    }
    const auto form = CZtRef<IZtInterface>::Adopt(answer);
    const auto element = CZtRef<IZtScanAreaElement>::Adopt(
        static_cast<IZtScanAreaElement*>(form->QueryInterface("CZtScanAreaElement")));
    return element && element->GetScanAreaDesc(desc) == 0;
}

int CZtVeroveStimulationAreas::StimulationAreaGetCount() {
    CZtLock lock(m_device.m_areasLock);
    return m_areas.GetCount();
}

int CZtVeroveStimulationAreas::StimulationAreaSet(const CZtRoiObjectList* areas,
                                                  const SZtRLEPicBuf* masks,
                                                  const SZtScanAreaDesc* scanArea,
                                                  const SZtGrabberFormatDesc* format,
                                                  const SZtRect* cameraRect) {
    const char* function = "CZtStimulationDeviceVerove::StimulationAreaSet";
    VEROVE_LOG(function, L"Start");
    if (!format || format->value.binningX < 1.0 || format->value.binningY < 1.0) {
        return VeroveStatus::kInvalidArgument;
    }
    // A run outside the frame would be written outside the pattern's picture.
    if (!areas || !masks || !MasksFitAreas(*areas, *masks)) {
        VEROVE_LOG(function, L"Stimulation area masks do not fit the areas, aborting.");
        return VeroveStatus::kInvalidArgument;
    }
    SZtScanAreaDesc scan{};
    if (scanArea) {
        scan = *scanArea;
    } else {
        ReadScanAreaForm(m_device.GetGrabberProvider(), &scan);
    }
    m_areasSet = false;
    {
        CZtLock lock(m_device.m_areasLock);
        m_areas = *areas;
        m_areaMasks = *masks;
        m_cameraRect = cameraRect ? *cameraRect : SZtRect{};
        m_cameraFormat = *format;
        m_scanArea = scan;
    }
    if (CZtCalibrationData* calibration = m_device.GetCalibrationData()) {
        calibration->SetScanAreaDesc(scan);
    }
    if (CZtVeroveDriver* driver = m_device.GetDriver()) {
        UpdateGroupPatterns(driver);
    }
    if (m_device.m_padWrapper) {
        m_device.m_padWrapper->Patterns();
        m_device.m_padWrapper->GroupButtons();
    }
    m_areasSet = true;
    VEROVE_LOG(function, L"End - OK");
    return 0;
}

void CZtVeroveStimulationAreas::UpdateGroupPatterns(CZtVeroveDriver* driver) {
    std::vector<SZtStimulationArea> groupAreas[kGroupCount];
    SZtRLEPicBuf groupMasks[kGroupCount];
    {
        CZtLock lock(m_device.m_areasLock);
        for (SZtRLEPicBuf& mask : groupMasks) {
            CZtRLEPicBufAPI::Alloc(&mask, m_areaMasks.width, m_areaMasks.height,
                                   m_areaMasks.bitsPerComponent);
        }
        for (int i = 0; i < m_areas.GetCount(); ++i) {
            const CZtRoiObject* area = m_areas.GetAt(i);
            const std::uint32_t group = area->GetStimulationGroup();
            if (group >= kGroupCount) {
                continue;
            }
            groupAreas[group].push_back(
                {area->GetIntensityMode(), area->GetIntensity(), area->GetSecondIntensity()});
            groupMasks[group].objects.push_back(m_areaMasks.objects[static_cast<size_t>(i)]);
        }
    }
    const int depth = m_device.GetBitDepth();
    const bool packed = depth == 1;
    bool confocal = false;
    if (IZtGrabberProvider* grabber = m_device.GetGrabberProvider()) {
        grabber->IsConfocal(&confocal);
    }
    SZtGrabberFormatDesc format;
    const bool haveFormat = driver->GetCurrentFormat(&format) == 0;
    // A stimulation on another thread switches patterns under the run lock: the exposed pattern
    // must not change between the look at it and its new exposure.
    std::lock_guard run(m_device.m_runLock);
    int exposeAgain = -1;
    {
        CZtLock lock(driver->GetBufferLock());
        CZtPatternStore& store = driver->GetPatterns();
        for (std::uint32_t g = 0; g < kGroupCount; ++g) {
            const int id = kFirstGroupPattern + static_cast<int>(g);
            CZtPattern* pattern = store.FindById(static_cast<std::uint32_t>(id));
            if (!pattern) {
                continue;
            }
            pattern->SetConfocal(confocal);
            pattern->SetStimulationAreas(groupAreas[g], &groupMasks[g]);
            if (pattern->IsRenderedFor(static_cast<std::uint32_t>(depth), packed)) {
                continue;
            }
            if (store.GetCurrentId() == id && driver->IsExposing()) {
                exposeAgain = id;
            } else if (pattern->HasStimulationAreas() && haveFormat) {
                // Rendered now, so that a stimulation only switches to the cached frame.
                pattern->SetDebugDeviceMemory(m_device.m_driverSettings.debugDeviceMemory.load());
                pattern->SetDitheringMethod(m_device.m_driverSettings.ditheringMethod.load());
                std::vector<std::uint8_t> frame(size_t{pattern->GetWidth()} * pattern->GetHeight());
                pattern->GetBitmap(frame.data(), static_cast<std::uint32_t>(depth), packed,
                                   &format.value, m_device.GetCalibrationData());
            }
        }
    }
    if (exposeAgain >= 0) {
        driver->ExposePattern(exposeAgain, true);
    }
}

int CZtVeroveStimulationAreas::StimulationAreaGet(CZtRoiObjectList* areas, SZtRLEPicBuf* masks,
                                                  SZtScanAreaDesc* scanArea,
                                                  SZtGrabberFormatDesc* format, SZtRect* cameraRect,
                                                  std::uint64_t* groupMask) {
    VEROVE_LOG("CZtStimulationDeviceVerove::StimulationAreaGet", L"Start");
    CZtLock lock(m_device.m_areasLock);
    if (areas) {
        *areas = m_areas;
    }
    if (masks) {
        *masks = m_areaMasks;
    }
    if (scanArea) {
        *scanArea = m_scanArea;
    }
    if (format) {
        *format = m_cameraFormat;
    }
    if (cameraRect) {
        *cameraRect = m_cameraRect;
    }
    if (groupMask) {
        *groupMask = 0;
        for (const CZtRoiObject& area : m_areas) {
            if (area.IsStimulationRoi() && area.GetStimulationGroup() < kGroupCount) {
                *groupMask |= std::uint64_t{1} << area.GetStimulationGroup();
            }
        }
    }
    return 0;
}

int CZtVeroveStimulationAreas::StimulationAreaAppendAsPattern() {
    const char* function = "CZtStimulationDeviceVerove::StimulationAreaAppendAsPattern";
    VEROVE_LOG(function, L"Start");
    // The masks' frame is the camera rectangle, so the picture is in camera coordinates.
    SZtRLEPicBuf masks;
    {
        CZtLock lock(m_device.m_areasLock);
        masks = m_areaMasks;
    }
    if (masks.objects.empty()) {
        VEROVE_LOG(function, L"No stimulation areas to append as pattern.");
        return VeroveStatus::kRefused;
    }
    SZtPicBuf picture;
    int status = CZtRLEPicBufAPI::ToPicture(&masks, &picture);
    if (status != 0) {
        VEROVE_LOG(function, L"Failed to render the stimulation areas, return code %d", status);
        return status;
    }
    CZtStringW storage;
    ZT_GetStoragePath(&storage);
    const QString folder =
        QDir(QString::fromWCharArray(storage.GetString())).filePath(QStringLiteral("Verove"));
    QDir().mkpath(folder);
    CZtStringW proposedName(L"Pattern");
    proposedName += L".bmp";
    CZtStringW path;
    if (ZT_GetSaveFileName(ZT_GetTranslation(L"Open Image").GetString(),
                           CZtStringW(folder.toStdWString()).GetString(), proposedName.GetString(),
                           L"Bitmap (*.bmp)", &path) != 0) {
        CZtPicBufAPI::Free(&picture);
        VEROVE_LOG(function, L"Cancelled by the user.");
        return VeroveStatus::kCancelled;
    }
    status = ZT_SavePictureToFile(path.GetString(), &picture);
    CZtPicBufAPI::Free(&picture);
    if (status != 0) {
        VEROVE_LOG(function, L"Failed to save pattern file %s, return code %d", path.GetString(),
                   status);
        return status;
    }
    const CZtStringW name(
        QFileInfo(QString::fromWCharArray(path.GetString())).completeBaseName().toStdWString());
    status = m_device.AddUserPattern(name.GetString(), path.GetString(), 1);
    VEROVE_LOG(function, L"End, return code %d", status);
    return status;
}

// Areas are uploaded as they are set.
int CZtVeroveStimulationAreas::StimulationAreaUpload() {
    VEROVE_LOG("CZtStimulationDeviceVerove::StimulationAreaUpload", L"Start");
    return 0;
}

bool CZtVeroveStimulationAreas::StimulationAreaIsUpToDate() {
    VEROVE_LOG("CZtStimulationDeviceVerove::StimulationAreaIsUpToDate", L"Start");
    std::uint64_t groups = 0;
    StimulationAreaGet(nullptr, nullptr, nullptr, nullptr, nullptr, &groups);
    return m_areasSet || groups == 0;
}

int CZtVeroveStimulationAreas::StimulationReady() {
    VEROVE_LOG("CZtStimulationDeviceVerove::StimulationReady", L"Start");
    return 0;
}

bool CZtVeroveStimulationAreas::StimulationIsReady() {
    VEROVE_LOG("CZtStimulationDeviceVerove::StimulationIsReady", L"Start");
    return m_areasSet;
}

void CZtVeroveStimulationAreas::LogROIContent() {
    const char* function = "CZtStimulationDeviceVerove::LogROIContent";
    CZtLock lock(m_device.m_areasLock);
    if (m_areas.GetCount() == 0) {
        VEROVE_LOG(function, L"Device is empty.");
        return;
    }
    CZtStringW text(L"Device ROI content:");
    for (const CZtRoiObject& area : m_areas) {
        const auto group = static_cast<unsigned long>(area.GetStimulationGroup()) + 1;
        const auto id = static_cast<unsigned long>(area.GetId());
        CZtStringW label = area.GetLabel();
        if (label.IsEmpty()) {
            label.Format(L"S%lu:%lu", group, id);
        }
        text.AppendFormat(L"\nGroup: S%lu, ID: %3lu, Label: '%s'", group, id, label.GetString());
    }
    VEROVE_LOG(function, L"%s", text.GetString());
}
