// The pad's list of patterns.
#include "cztverovepadpatterns.h"

#include <QIcon>

#include "cztpatterncombobox.h"
#include "cztpatterncomboboxdelegate.h"
#include "cztstimulationdeviceverove.h"
#include "cztverovedriver.h"
#include "zt/zt_util.h"

namespace {

QString Tr(const wchar_t* text) {
    return QString::fromStdWString(ZT_GetTranslation(text).Str());
}

PatternVecEntryGroup Heading(const QString& text) {
    PatternVecEntryGroup group;
    group.text = text;
    group.id = -1;
    group.mapping = 0;
    return group;
}

void Add(PatternVecEntryGroup* group, const QString& text, bool enabled, std::int32_t id,
         std::uint32_t mapping) {
    group->entries.push_back({text, enabled, id, mapping});
    group->hasEntries = true;
}

}  // namespace

std::vector<PatternVecEntryGroup> CZtVerovePadPatterns::Build(CZtStimulationDeviceVerove* device) {
    CZtCalibrationData* calibration = device ? device->GetCalibrationData() : nullptr;
    const bool calibrationValid =
        !calibration || calibration->GetCalibrationState() > NotCalibrated;

    // The built-in patterns stand before the first heading: a group without heading text.
    PatternVecEntryGroup builtIn;
    Add(&builtIn, Tr(L"Full OFF"), true, 0, 0);
    Add(&builtIn, Tr(L"Full ON"), true, 1, 0);
    Add(&builtIn, Tr(L"Grid"), true, 2, 0);
    PatternVecEntryGroup groups = Heading(QStringLiteral("------------------"));
    PatternVecEntryGroup user = Heading(Tr(L"Other patterns"));

    CZtVeroveDriver* driver = device ? device->GetDriver() : nullptr;
    if (driver) {
        CZtLock lock(driver->GetBufferLock());
        CZtPatternStore& store = driver->GetPatterns();
        for (std::uint32_t g = 0; g < 3; ++g) {
            const CZtPattern* pattern = store.FindById(3 + g);
            const bool hasAreas = pattern && pattern->HasStimulationAreas();
            Add(&groups, QStringLiteral("S%1").arg(g + 1), hasAreas && calibrationValid,
                static_cast<std::int32_t>(3 + g), pattern ? pattern->GetMapping() : 1);
        }
        // A file that gives no pattern leaves a gap in the identifiers (docs/pattern_manager.md).
        for (int i = 0; i < store.Count(); ++i) {
            const CZtPattern* pattern = store.GetAt(i);
            if (pattern->GetId() < 6) {
                continue;
            }
            const std::uint32_t mapping = pattern->GetMapping();
            Add(&user, QString::fromStdWString(pattern->GetName().Str()),
                calibrationValid || mapping != 1, static_cast<std::int32_t>(pattern->GetId()),
                mapping);
        }
    }
    return {builtIn, groups, user};
}

bool CZtVerovePadPatterns::Equal(const std::vector<PatternVecEntryGroup>& a,
                                 const std::vector<PatternVecEntryGroup>& b) {
    if (a.size() != b.size()) {
        return false;
    }
    for (size_t i = 0; i < a.size(); ++i) {
        if (!(static_cast<const PatternVecEntry&>(a[i]) == b[i]) || a[i].entries != b[i].entries) {
            return false;
        }
    }
    return true;
}

void CZtVerovePadPatterns::Fill(CZtPatternComboBox* combo,
                                const std::vector<PatternVecEntryGroup>& list) {
    static const QIcon camera(QStringLiteral(":/w32_baseresources/res/device/pattern_camera.svg"));
    static const QIcon mirrors(
        QStringLiteral(":/w32_baseresources/res/device/pattern_mirrors.svg"));
    combo->clear();
    for (const PatternVecEntryGroup& group : list) {
        if (group.hasEntries && !group.text.isEmpty()) {
            combo->addItem(group.text, group.id);
        }
        for (const PatternVecEntry& entry : group.entries) {
            if (entry.enabled) {
                combo->addItem(entry.mapping == 1 ? camera : mirrors, entry.text, entry.id);
            }
        }
    }
}

int CZtVerovePadPatterns::Selection(const CZtPatternComboBox* combo, int previousIndex,
                                    const QString& previousText) {
    if (previousIndex >= 0 && previousIndex < combo->count() &&
        combo->itemText(previousIndex) == previousText) {
        return previousIndex;
    }
    const int byText = combo->findText(previousText, Qt::MatchExactly);
    if (byText >= 0 && !previousText.isEmpty()) {
        return byText;
    }
    for (int i = 0; i < combo->count(); ++i) {
        if (!CZtPatternComboBoxDelegate::IsHeading(combo->itemData(i))) {
            return i;
        }
    }
    return -1;
}
