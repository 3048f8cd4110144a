// The pad's list of patterns: built-in patterns, group patterns and the user's patterns under
// their headings, as the pattern combo shows them.
#pragma once

#include <QString>
#include <cstdint>
#include <vector>

class CZtPatternComboBox;
class CZtStimulationDeviceVerove;

struct PatternVecEntry {
    QString text;
    bool enabled = true;
    std::int32_t id = -1;       // the pattern identifier; -1 for a heading
    std::uint32_t mapping = 0;  // 1: defined in camera coordinates; otherwise DMD coordinates
    bool operator==(const PatternVecEntry& other) const {
        return text == other.text && enabled == other.enabled && id == other.id &&
               mapping == other.mapping;
    }
};

// A heading and the patterns under it.
struct PatternVecEntryGroup : PatternVecEntry {
    std::vector<PatternVecEntry> entries;
    bool hasEntries = false;
};

// GUI thread only.
class CZtVerovePadPatterns {
public:
    // The list for the device's patterns now. A group pattern is enabled when it holds areas and
    // the calibration is valid; a user pattern in camera coordinates needs a valid calibration.
    static std::vector<PatternVecEntryGroup> Build(CZtStimulationDeviceVerove* device);
    // Same length and every entry equal in text, enabled flag, identifier and mapping.
    static bool Equal(const std::vector<PatternVecEntryGroup>& a,
                      const std::vector<PatternVecEntryGroup>& b);
    // Clears the combo and adds every heading with entries and every enabled entry, in order,
    // with the identifier as item data and the icon of its coordinates.
    static void Fill(CZtPatternComboBox* combo, const std::vector<PatternVecEntryGroup>& list);
    // The previous index when it still holds the previous text; else the item with that text;
    // else the first item that is no heading; -1 for an empty combo.
    static int Selection(const CZtPatternComboBox* combo, int previousIndex,
                         const QString& previousText);
};
