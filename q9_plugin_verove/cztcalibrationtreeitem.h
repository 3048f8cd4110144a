// One stored calibration in the calibration tree: the parts of its key, how each matches the
// current configuration, and the rows that show them.
#pragma once

#include <QTreeWidgetItem>
#include <string>
#include <vector>

#include "cztconfigurationdata.h"

class IZtGrabberProvider;

// One child row: its text and whether its value matches the current configuration.
struct SZtCalibrationTreeRow {
    std::wstring text;
    bool matching = false;
};

// Thread-bound to the GUI thread.
class CZtCalibrationTreeItem : public QTreeWidgetItem {
public:
    CZtCalibrationTreeItem() = default;

    // Reads the stored key; false when it is no configuration string (it begins with "#F" and
    // holds "#O" and "#C"): the item is then not listed.
    bool SetKey(const std::wstring& key);
    // Compares the stored parts with the current configuration's.
    void Match(const SZtConfigurationStringParts& current);
    // The child rows in their order: camera, rotation, objective, zoom, TRAX, one per stored
    // filter changer, one "Missing" per changer of the current configuration the key lacks.
    // grabber (may be null) names the cameras.
    std::vector<SZtCalibrationTreeRow> Rows(IZtGrabberProvider* grabber) const;

    const SZtConfigurationStringParts& GetParts() const { return m_parts; }
    // The number of the current configuration's filter changers the stored key lacks.
    int GetMissingFilterCount() const { return m_missingFilters; }

private:
    SZtConfigurationStringParts m_parts;
    SZtConfigurationStringParts m_current;
    bool m_cameraMatches = false;
    bool m_rotationMatches = false;
    bool m_objectiveMatches = false;
    bool m_zoomMatches = false;
    bool m_traxMatches = false;
    std::vector<bool> m_filterMatches;
    int m_missingFilters = 0;
};
