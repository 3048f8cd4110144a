// The host's ROI objects of a document, their lists and their run-length pixel masks.
#pragma once

#include <cstdint>
#include <vector>

#include "zt/zt_export.h"
#include "zt/zt_picbuf.h"
#include "zt/zt_string.h"

// ROI type codes and the geometry each keeps. Coordinates are camera image pixels, continuous:
// pixel (i, j) covers [i, i + 1) x [j, j + 1). The angle (degrees) turns a shape about its centre:
// a point (dx, dy) from the centre goes to (cos a dx - sin a dy, sin a dx + cos a dy).
constexpr std::uint32_t ZT_ROITYPE_POINT = 1;      // x, y
constexpr std::uint32_t ZT_ROITYPE_ELLIPSE = 2;    // centre x, centre y, radius x, radius y
constexpr std::uint32_t ZT_ROITYPE_POLYGON = 3;    // x0, y0, x1, y1, ... (three points or more)
constexpr std::uint32_t ZT_ROITYPE_RECTANGLE = 4;  // centre x, centre y, half width, half height

// One ROI of a document. A plain value.
//
// A stimulation ROI belongs to the 0-based stimulation group its group index names; its intensity
// mode and intensities (percent) say how bright its pixels are stimulated: mode 0 full, 1 flat at
// intensity, 2..5 a gradient from intensity to second intensity left to right, right to left,
// top to bottom, bottom to top.
class ZTHOST_API CZtRoiObject {
public:
    CZtRoiObject() = default;
    CZtRoiObject(std::uint32_t type, std::vector<double> geometry, double angle = 0.0);

    std::uint32_t GetId() const { return m_id; }
    void SetId(std::uint32_t id) { m_id = id; }
    const CZtStringW& GetLabel() const { return m_label; }
    void SetLabel(const CZtStringW& label) { m_label = label; }
    std::uint32_t GetType() const { return m_type; }
    const std::vector<double>& GetGeometry() const { return m_geometry; }
    double GetAngle() const { return m_angle; }
    void SetGeometry(std::uint32_t type, std::vector<double> geometry, double angle = 0.0);

    bool GetStimulation() const { return m_stimulation; }
    void SetStimulation(bool stimulation) { m_stimulation = stimulation; }
    std::uint32_t GetStimulationGroup() const { return m_group; }
    void SetStimulationGroup(std::uint32_t group) { m_group = group; }
    std::uint32_t GetIntensityMode() const { return m_intensityMode; }
    double GetIntensity() const { return m_intensity; }
    double GetSecondIntensity() const { return m_secondIntensity; }
    void SetIntensity(std::uint32_t mode, double intensity, double secondIntensity);

    // The host's stimulation test: the ROI is marked for stimulation and has a shape that covers
    // pixels.
    bool IsStimulationRoi() const;

private:
    std::uint32_t m_id = 0;
    CZtStringW m_label;
    std::uint32_t m_type = ZT_ROITYPE_RECTANGLE;
    std::vector<double> m_geometry;
    double m_angle = 0.0;
    bool m_stimulation = false;
    std::uint32_t m_group = 0;
    std::uint32_t m_intensityMode = 0;
    double m_intensity = 100.0;
    double m_secondIntensity = 100.0;
};

// The ROIs of a document in their order. A plain value: copies are deep.
class ZTHOST_API CZtRoiObjectList {
public:
    int GetCount() const { return static_cast<int>(m_rois.size()); }
    // Null for an index out of range.
    const CZtRoiObject* GetAt(int index) const;
    CZtRoiObject* GetAt(int index);
    void Add(const CZtRoiObject& roi) { m_rois.push_back(roi); }
    // -4 for an index out of range.
    int RemoveAt(int index);
    void Clear() { m_rois.clear(); }
    // The first ROI with that identifier, or null.
    const CZtRoiObject* FindById(std::uint32_t id) const;

    std::vector<CZtRoiObject>::const_iterator begin() const { return m_rois.begin(); }
    std::vector<CZtRoiObject>::const_iterator end() const { return m_rois.end(); }

private:
    std::vector<CZtRoiObject> m_rois;
};

// Replaces masks with the pixel masks of rois on a width x height image: one object per ROI, in
// the list's order, with the ROI's identifier. A pixel belongs to a shape when its centre lies
// inside (a point covers the pixel it lies in); pixels outside the image are dropped, so a ROI
// off the image gives an empty object. A ROI whose geometry does not fit its type gives an empty
// object too. 0; -4 for a null argument.
ZTHOST_API int ZT_RoiListToRLE(const CZtRoiObjectList* rois, std::uint32_t width,
                               std::uint32_t height, SZtRLEPicBuf* masks);
