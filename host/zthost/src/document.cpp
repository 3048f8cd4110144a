// A document of the host: its picture, views, look-up tables, calibration and ROIs.
#include "document.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "documentstore.h"
#include "hostsettings.h"

namespace {

// The smallest and largest value of component 0.
void ValueRange(const SZtPicBuf& picture, std::uint32_t* low, std::uint32_t* high) {
    std::uint32_t lo = UINT32_MAX, hi = 0;
    for (std::uint32_t y = 0; y < picture.height; ++y) {
        for (std::uint32_t x = 0; x < picture.width; ++x) {
            const std::uint32_t v = CZtPicBufAPI::GetValue(&picture, x, y);
            lo = std::min(lo, v);
            hi = std::max(hi, v);
        }
    }
    *low = lo;
    *high = hi;
}

}  // namespace

Document::Document(int type, const std::wstring& title) : m_type(type), m_title(title) {}

void* Document::QueryInterface(const char* interfaceName) {
    if (interfaceName && std::strcmp(interfaceName, "IZtDocument") == 0) {
        AddRef();
        return static_cast<IZtDocument*>(this);
    }
    return CZtClass::QueryInterface(interfaceName);
}

ZT_DWORD Document::GetTag() {
    std::lock_guard lock(m_mutex);
    return m_tag;
}

int Document::SetTag(ZT_DWORD tag) {
    std::lock_guard lock(m_mutex);
    m_tag = tag;
    return 0;
}

bool Document::IsOpen() {
    std::lock_guard lock(m_mutex);
    return m_open;
}

int Document::LoadSample(const CZtGrabberSample* sample, const SZtPictureMetadata* metadata) {
    if (!sample) {
        return -4;
    }
    SZtPicBuf picture;
    const int status = sample->CopyPicture(&picture);
    if (status != 0) {
        return status;
    }
    const bool autoTables = HostSettings::Instance().AutoLookUpTables();
    std::uint32_t low = 0;
    std::uint32_t high = (1u << picture.bitsPerComponent) - 1;
    if (autoTables) {
        ValueRange(picture, &low, &high);
    }
    std::lock_guard lock(m_mutex);
    // A picture of the depth the tables were set for keeps them, unless they follow each picture.
    const bool sameDepth =
        !m_picture.IsEmpty() && m_picture.bitsPerComponent == picture.bitsPerComponent;
    if (!sameDepth || autoTables) {
        m_lutLow = low;
        m_lutHigh = high;
    }
    m_picture = std::move(picture);
    m_metadata = metadata ? *metadata : sample->GetMetadata();
    m_hasMetadata = true;
    return 0;
}

int Document::GetViewCentre(int view, double* x, double* y) {
    if (!x || !y) {
        return -4;
    }
    std::lock_guard lock(m_mutex);
    if (view < 0 || view >= static_cast<int>(m_viewTitles.size())) {
        return -5;
    }
    if (m_picture.IsEmpty()) {
        return -9;
    }
    *x = m_picture.width / 2.0;
    *y = m_picture.height / 2.0;
    return 0;
}

int Document::GetPicture(SZtPicBuf* picture) {
    if (!picture) {
        return -4;
    }
    std::lock_guard lock(m_mutex);
    return m_picture.IsEmpty() ? -9 : CZtPicBufAPI::Copy(&m_picture, picture);
}

int Document::GetMetadata(SZtPictureMetadata* metadata) {
    if (!metadata) {
        return -4;
    }
    std::lock_guard lock(m_mutex);
    if (!m_hasMetadata) {
        return -9;
    }
    *metadata = m_metadata;
    return 0;
}

int Document::SetLookUpTables(std::uint32_t low, std::uint32_t high) {
    if (low >= high) {
        return -4;
    }
    std::lock_guard lock(m_mutex);
    m_lutLow = low;
    m_lutHigh = high;
    return 0;
}

int Document::SetCalibration(const SZtCalibrationAttr* attr) {
    if (!attr || !(attr->pixelSize >= 0.0) || !(attr->scaleBar >= 0.0)) {
        return -4;
    }
    std::lock_guard lock(m_mutex);
    m_calibration = *attr;
    return 0;
}

int Document::SetCameraZoom(double zoom) {
    if (!(zoom > 0.0) || !std::isfinite(zoom)) {
        return -4;
    }
    std::lock_guard lock(m_mutex);
    m_cameraZoom = zoom;
    return 0;
}

int Document::RefreshViews() {
    std::lock_guard lock(m_mutex);
    ++m_refreshCount;
    return 0;
}

int Document::AddView(int* view) {
    if (!view) {
        return -4;
    }
    std::lock_guard lock(m_mutex);
    m_viewTitles.push_back(m_title.Str());
    *view = static_cast<int>(m_viewTitles.size()) - 1;
    return 0;
}

int Document::GetViewCount() {
    std::lock_guard lock(m_mutex);
    return static_cast<int>(m_viewTitles.size());
}

int Document::GetViewTitle(int view, CZtStringW* title) {
    if (!title) {
        return -4;
    }
    std::lock_guard lock(m_mutex);
    if (view < 0 || view >= static_cast<int>(m_viewTitles.size())) {
        return -5;
    }
    *title = m_viewTitles[view];
    return 0;
}

int Document::SetViewTitle(int view, const wchar_t* title) {
    if (!title) {
        return -4;
    }
    std::lock_guard lock(m_mutex);
    if (view < 0 || view >= static_cast<int>(m_viewTitles.size())) {
        return -5;
    }
    m_viewTitles[view] = title;
    return 0;
}

int Document::ActivateView(int view) {
    return DocumentStore::Instance().Activate(this, view);
}

int Document::ClearAllRois(const wchar_t* actionName) {
    if (!actionName) {
        return -4;
    }
    std::lock_guard lock(m_mutex);
    m_rois.Clear();
    m_roiActions.push_back(actionName);
    return 0;
}

int Document::AddRoi(const CZtRoiObject* roi) {
    if (!roi) {
        return -4;
    }
    std::lock_guard lock(m_mutex);
    CZtRoiObject added = *roi;
    added.SetId(m_nextRoiId++);
    m_rois.Add(added);
    return 0;
}

int Document::GetRois(CZtRoiObjectList* rois) {
    if (!rois) {
        return -4;
    }
    std::lock_guard lock(m_mutex);
    *rois = m_rois;
    return 0;
}

bool Document::HasStimulationRoi() {
    std::lock_guard lock(m_mutex);
    return std::any_of(m_rois.begin(), m_rois.end(),
                       [](const CZtRoiObject& roi) { return roi.IsStimulationRoi(); });
}

int Document::ClearStimulationRois(const wchar_t* actionName) {
    if (!actionName) {
        return -4;
    }
    std::lock_guard lock(m_mutex);
    CZtRoiObjectList kept;
    for (const CZtRoiObject& roi : m_rois) {
        if (!roi.GetStimulation()) {
            kept.Add(roi);
        }
    }
    m_rois = kept;
    m_roiActions.push_back(actionName);
    return 0;
}

int Document::MoveRoi(std::uint32_t id, double x, double y) {
    std::lock_guard lock(m_mutex);
    for (int i = 0; i < m_rois.GetCount(); ++i) {
        CZtRoiObject* roi = m_rois.GetAt(i);
        if (roi->GetId() != id) {
            continue;
        }
        std::vector<double> geometry = roi->GetGeometry();
        if (geometry.size() < 2) {
            return -4;
        }
        double dx = 0.0;
        double dy = 0.0;
        if (roi->GetType() == ZT_ROITYPE_POLYGON) {
            // A polygon's centre is the mean of its corners.
            const std::size_t corners = geometry.size() / 2;
            double cx = 0.0;
            double cy = 0.0;
            for (std::size_t k = 0; k < corners; ++k) {
                cx += geometry[2 * k];
                cy += geometry[2 * k + 1];
            }
            dx = x - cx / corners;
            dy = y - cy / corners;
            for (std::size_t k = 0; k < corners; ++k) {
                geometry[2 * k] += dx;
                geometry[2 * k + 1] += dy;
            }
        } else {
            geometry[0] = x;
            geometry[1] = y;
        }
        roi->SetGeometry(roi->GetType(), geometry, roi->GetAngle());
        return 0;
    }
    return -4;
}

void Document::SetOpen(bool open) {
    std::lock_guard lock(m_mutex);
    m_open = open;
}

bool Document::HasView(int view) {
    std::lock_guard lock(m_mutex);
    return view >= 0 && view < static_cast<int>(m_viewTitles.size());
}

void Document::SetActiveView(int view) {
    std::lock_guard lock(m_mutex);
    m_activeView = view;
}

void Document::SetFormat(const SZtGrabberFormatDesc& format) {
    std::lock_guard lock(m_mutex);
    m_metadata = SZtPictureMetadata{};
    m_metadata.format = format;
    m_hasMetadata = true;
}

bool Document::Format(SZtGrabberFormatDesc* format) {
    std::lock_guard lock(m_mutex);
    if (!m_hasMetadata) {
        return false;
    }
    *format = m_metadata.format;
    return true;
}

zthost::DocumentInfo Document::Info() {
    std::lock_guard lock(m_mutex);
    zthost::DocumentInfo info;
    info.type = m_type;
    info.tag = m_tag;
    info.title = m_title.Str();
    info.hasPicture = !m_picture.IsEmpty();
    info.pictureWidth = m_picture.width;
    info.pictureHeight = m_picture.height;
    info.viewTitles = m_viewTitles;
    info.activeView = m_activeView;
    info.refreshCount = m_refreshCount;
    info.lutLow = m_lutLow;
    info.lutHigh = m_lutHigh;
    info.calibration = m_calibration;
    info.cameraZoom = m_cameraZoom;
    info.roiActions = m_roiActions;
    info.rois = m_rois;
    return info;
}
