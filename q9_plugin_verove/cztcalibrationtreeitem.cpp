// One stored calibration in the calibration tree.
#include "cztcalibrationtreeitem.h"

#include <cwchar>

#include "zt/zt_document.h"
#include "zt/zt_grabber.h"
#include "zt/zt_string.h"
#include "zt/zt_util.h"

namespace {

// How many cameras the lookup asks the grabber for.
constexpr int kMaxCameras = 16;

std::wstring NoneText() {
    return ZT_GetTranslation(L"<none>").Str();
}

// The camera's name as the grabber lists it; the stored text when the grabber does not know it.
std::wstring CameraDisplayName(IZtGrabberProvider* grabber, const std::wstring& stored) {
    for (int i = 0; grabber && i < kMaxCameras; ++i) {
        SZtCameraDesc camera;
        if (grabber->CameraGet_WRP(i, &camera) != 0) {
            break;
        }
        if (camera.name.Str() == stored) {
            return camera.name.Str();
        }
    }
    return stored;
}

std::wstring ObjectiveText(const std::wstring& code) {
    SZtObjective objective;
    if (ZT_GetObjectiveByCode(code.c_str(), &objective) == 0) {
        return objective.name.Str() + L" (" + code + L")";
    }
    return code;
}

}  // namespace

// Every configuration string the device writes begins with its filters and holds the objective
// and camera tokens; the parser reads anything, so the tree checks that much itself.
bool CZtCalibrationTreeItem::SetKey(const std::wstring& key) {
    m_parts = SZtConfigurationStringParts();
    if (key.rfind(L"#F", 0) != 0 || key.find(L"#O") == std::wstring::npos ||
        key.find(L"#C") == std::wstring::npos) {
        return false;
    }
    return ParseConfigurationString(key, &m_parts) == 0;
}

void CZtCalibrationTreeItem::Match(const SZtConfigurationStringParts& current) {
    m_current = current;
    m_cameraMatches = !m_parts.camera.empty() && m_parts.camera == current.camera;
    m_rotationMatches = m_parts.rotation == current.rotation;
    m_objectiveMatches = m_parts.objective == current.objective;
    m_zoomMatches = m_parts.zoom == current.zoom;
    m_traxMatches = m_parts.trax == current.trax && m_parts.port == current.port;
    m_filterMatches.clear();
    for (std::size_t i = 0; i < m_parts.filters.size(); ++i) {
        const auto& stored = m_parts.filters[i];
        m_filterMatches.push_back(i < current.filters.size() &&
                                  stored.key == current.filters[i].key &&
                                  stored.filterName == current.filters[i].filterName &&
                                  stored.position == current.filters[i].position);
    }
    m_missingFilters =
        static_cast<int>(current.filters.size()) - static_cast<int>(m_parts.filters.size());
}

std::vector<SZtCalibrationTreeRow> CZtCalibrationTreeItem::Rows(IZtGrabberProvider* grabber) const {
    const std::wstring none = NoneText();
    std::vector<SZtCalibrationTreeRow> rows;
    if (m_parts.camera != none) {
        if (m_parts.camera.empty()) {
            rows.push_back({ZT_GetTranslation(L"Camera: ").Str() + none, false});
        } else {
            rows.push_back(
                {ZT_GetTranslation(L"Camera: ").Str() + CameraDisplayName(grabber, m_parts.camera),
                 m_cameraMatches});
        }
    }
    if (m_parts.rotation != none) {
        rows.push_back({ZT_GetTranslation(L"Camera Rotation: ").Str() + m_parts.rotation + L"°",
                        m_rotationMatches});
    }
    if (m_parts.objective != none) {
        rows.push_back({ZT_GetTranslation(L"Objective: ").Str() + ObjectiveText(m_parts.objective),
                        m_objectiveMatches});
    }
    if (m_parts.zoom != none) {
        rows.push_back({ZT_GetTranslation(L"Manual Zoom: ").Str() + m_parts.zoom, m_zoomMatches});
    }
    if (m_parts.trax) {
        rows.push_back({ZT_GetTranslation(L"TRAX Port: ").Str() + ZT_FormatW(L"%i", m_parts.port),
                        m_traxMatches});
    } else {
        rows.push_back({ZT_GetTranslation(L"TRAX Port: ").Str() +
                            ZT_GetTranslation(L"TRAX Not connected").Str(),
                        m_traxMatches});
    }
    for (std::size_t i = 0; i < m_parts.filters.size(); ++i) {
        const auto& filter = m_parts.filters[i];
        const int position =
            static_cast<int>(std::wcstol(filter.position.c_str(), nullptr, 10)) + 1;
        std::wstring value =
            filter.filterName.empty()
                ? ZT_FormatW(ZT_GetTranslation(L"Position %i").GetString(), position)
                : ZT_FormatW(ZT_GetTranslation(L"%s, Position %i").GetString(),
                             filter.filterName.c_str(), position);
        rows.push_back({ZT_FormatW(L"%s: ", filter.key.c_str()) + value, m_filterMatches[i]});
    }
    for (int i = 0; i < m_missingFilters; ++i) {
        const auto& filter = m_current.filters[m_parts.filters.size() + static_cast<size_t>(i)];
        rows.push_back(
            {ZT_FormatW(L"%s: ", filter.key.c_str()) + ZT_GetTranslation(L"Missing").Str(), false});
    }
    return rows;
}
