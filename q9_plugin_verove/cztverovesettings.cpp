// The settings record of one device: defaults, reading it from and writing it into a settings tree.
#include "cztverovesettings.h"

#include <limits>
#include <utility>

namespace {

// A group or line "Id" that is missing reads as this, which no group or line has.
constexpr std::uint32_t kNoId = std::numeric_limits<std::uint32_t>::max();
constexpr std::uint32_t kGroupCount = 3;

// The number of child levels of that name at the reader's current level.
std::size_t CountLevels(CZtLiteVariantR* reader, const wchar_t* name) {
    std::size_t count = 0;
    for (int more = reader->FirstChild(); more == 0; more = reader->NextChild()) {
        if (reader->GetChildType() == EZtVariantType::Level && reader->GetChildName() == name) {
            ++count;
        }
    }
    return count;
}

// Opens the child at the reader's position when it is a level of that name.
bool OpenChildLevel(CZtLiteVariantR* reader, const wchar_t* name) {
    return reader->GetChildType() == EZtVariantType::Level && reader->GetChildName() == name &&
           reader->OpenChild() == 0;
}

}  // namespace

void CZtVeroveSettings::Reset() {
    *this = CZtVeroveSettings();
}

int CZtVeroveSettings::Read(CZtLiteVariantR* reader) {
    Reset();
    if (!reader) {
        return -4;
    }
    if (reader->OpenLevel(L"Definition") != 0) {
        return 0;
    }
    // Without "Patterns" the duration keeps the record's default; within it, a missing duration
    // reads as 1 ms.
    if (reader->OpenLevel(L"Patterns") == 0) {
        ReadPatterns(reader);
        reader->CloseLevel();
    }
    if (reader->OpenLevel(L"Illumination") == 0) {
        ReadIllumination(reader);
        reader->CloseLevel();
    }
    grayscalingEnabled = reader->GetBool(L"GrayscalingEnabled", grayscalingEnabled);
    grayscalingLevelsIndex = reader->GetInt(L"GrayscalingLevelsIndex", grayscalingLevelsIndex);
    reader->CloseLevel();
    return 0;
}

void CZtVeroveSettings::ReadPatterns(CZtLiteVariantR* reader) {
    if (reader->OpenLevel(L"Bitmaps") == 0) {
        for (int more = reader->FirstChild(); more == 0; more = reader->NextChild()) {
            if (reader->OpenChild() != 0) {
                continue;
            }
            SZtPatternFile entry(reader->GetString(L"Name", L""),
                                 reader->GetString(L"Filepath", L""),
                                 reader->GetInt(L"Mapping", 0));
            reader->CloseLevel();
            if (!entry.name.IsEmpty() && !entry.filePath.IsEmpty()) {
                bitmaps.push_back(std::move(entry));
            }
        }
        reader->CloseLevel();
    }
    patternDuration = reader->GetDouble(L"PatternDuration", 1.0);
}

void CZtVeroveSettings::ReadIllumination(CZtLiteVariantR* reader) {
    bitDepth = reader->GetInt(L"BitDepth", 1);
    laserLaunchKey = reader->GetString(L"LaserLaunch", L"");
    laserLaunchType = reader->GetString(L"LaserLaunchType", L"");
    if (reader->OpenLevel(L"StimulationGrups") == 0) {
        ReadStimulationGroups(reader);
        reader->CloseLevel();
    }
    if (reader->OpenLevel(L"LaserSwitcher") == 0) {
        laserSwitcherKey = reader->GetString(L"LaserSwitcherKey", L"");
        laserSwitcherPort = reader->GetUInt(L"LaserSwitcherPort", 0);
        reader->CloseLevel();
    }
    if (reader->OpenLevel(L"ShutterChain") == 0) {
        for (int more = reader->FirstChild(); more == 0; more = reader->NextChild()) {
            if (reader->GetChildType() != EZtVariantType::String) {
                continue;
            }
            CZtStringW key = reader->GetChildString(L"");
            if (!key.IsEmpty()) {
                shutterKeys.push_back(std::move(key));
            }
        }
        reader->CloseLevel();
    }
    externalTriggerSet = reader->GetBool(L"ExternalTriggerSet", false);
    nidaqResource = reader->GetString(L"NIDAQResource", L"");
    pfiTimestamp = reader->GetInt(L"PFITimestamp", 0);
    pfiTerminal = reader->GetString(L"PFITerminal", L"");
    useTTL = reader->GetBool(L"UseTTL", false);
}

void CZtVeroveSettings::ReadStimulationGroups(CZtLiteVariantR* reader) {
    for (int more = reader->FirstChild(); more == 0; more = reader->NextChild()) {
        if (!OpenChildLevel(reader, L"Group")) {
            continue;
        }
        const std::uint32_t group = reader->GetUInt(L"Id", kNoId);
        if (group < kGroupCount) {
            ReadGroupLines(reader, group);
        }
        reader->CloseLevel();
    }
}

void CZtVeroveSettings::ReadGroupLines(CZtLiteVariantR* reader, std::uint32_t group) {
    if (reader->OpenLevel(L"LaserLines") != 0) {
        laserLines.clear();
        return;
    }
    const std::size_t count = CountLevels(reader, L"LaserLine");
    laserLines.resize(count);
    for (int more = reader->FirstChild(); more == 0; more = reader->NextChild()) {
        if (!OpenChildLevel(reader, L"LaserLine")) {
            continue;
        }
        const std::uint32_t line = reader->GetUInt(L"Id", kNoId);
        const double power = reader->GetDouble(L"Power", -1.0);
        if (line < count && power >= 0.0 && power <= 100.0) {
            SZtVeroveLaserLine& record = laserLines[line];
            record.power[group] = power;
            record.used[group] = reader->GetBool(L"Used", false);
            record.visible = reader->GetBool(L"Visible", true);
            record.index = line;
        }
        reader->CloseLevel();
    }
    reader->CloseLevel();
}

int CZtVeroveSettings::FindBitmap(const wchar_t* name, CZtStringW* path) const {
    if (!name || !path) {
        return -4;
    }
    for (const SZtPatternFile& entry : bitmaps) {
        if (entry.name == name) {
            *path = entry.filePath;
            return 0;
        }
    }
    return -13;
}

int CZtVeroveSettings::Write(CZtLiteVariantW* writer, const wchar_t* uniqueName) const {
    if (!writer || !uniqueName) {
        return -4;
    }
    writer->OpenLevel(uniqueName);
    writer->OpenLevel(L"Definition");

    writer->OpenLevel(L"Patterns");
    writer->OpenLevel(L"Bitmaps");
    for (const SZtPatternFile& entry : bitmaps) {
        writer->OpenLevel(L"Bitmap");
        writer->AddString(L"Name", entry.name);
        writer->AddString(L"Filepath", entry.filePath);
        writer->AddInt(L"Mapping", entry.mapping);
        writer->CloseLevel();
    }
    writer->CloseLevel();
    writer->AddDouble(L"PatternDuration", patternDuration);
    writer->CloseLevel();

    writer->OpenLevel(L"Illumination");
    WriteIllumination(writer);
    writer->CloseLevel();

    writer->AddBool(L"GrayscalingEnabled", grayscalingEnabled);
    writer->AddInt(L"GrayscalingLevelsIndex", grayscalingLevelsIndex);

    // The file format keeps these a second time at the definition level, the last four as levels
    // holding one unnamed value; files stay readable by every reader of the format.
    WriteLightSource(writer);
    writer->OpenLevel(L"StimulationGrups");
    writer->CloseLevel();
    writer->OpenLevel(L"NIDAQResource");
    writer->AddString(nullptr, nidaqResource);
    writer->CloseLevel();
    writer->OpenLevel(L"PFITimestamp");
    writer->AddInt(nullptr, pfiTimestamp);
    writer->CloseLevel();
    writer->OpenLevel(L"PFITerminal");
    writer->AddString(nullptr, pfiTerminal);
    writer->CloseLevel();
    writer->OpenLevel(L"UseTTL");
    writer->AddBool(nullptr, useTTL);
    writer->CloseLevel();

    writer->CloseLevel();
    writer->CloseLevel();
    return 0;
}

void CZtVeroveSettings::WriteLightSource(CZtLiteVariantW* writer) const {
    writer->AddInt(L"BitDepth", bitDepth);
    writer->AddString(L"LaserLaunch", laserLaunchKey);
    writer->AddString(L"LaserLaunchType", laserLaunchType);
    writer->OpenLevel(L"LaserSwitcher");
    writer->AddString(L"LaserSwitcherKey", laserSwitcherKey);
    writer->AddUInt(L"LaserSwitcherPort", laserSwitcherPort);
    writer->CloseLevel();
}

void CZtVeroveSettings::WriteIllumination(CZtLiteVariantW* writer) const {
    WriteLightSource(writer);

    writer->OpenLevel(L"StimulationGrups");
    for (std::uint32_t group = 0; group < kGroupCount; ++group) {
        writer->OpenLevel(L"Group");
        writer->AddUInt(L"Id", group);
        writer->OpenLevel(L"LaserLines");
        for (const SZtVeroveLaserLine& line : laserLines) {
            writer->OpenLevel(L"LaserLine");
            writer->AddUInt(L"Id", line.index);
            writer->AddDouble(L"Power", line.power[group]);
            writer->AddBool(L"Used", line.used[group]);
            writer->AddBool(L"Visible", line.visible);
            writer->CloseLevel();
        }
        writer->CloseLevel();
        writer->CloseLevel();
    }
    writer->CloseLevel();

    writer->OpenLevel(L"ShutterChain");
    for (const CZtStringW& key : shutterKeys) {
        writer->AddString(L"Shutter", key);
    }
    writer->CloseLevel();

    writer->AddBool(L"ExternalTriggerSet", externalTriggerSet);
    writer->AddString(L"NIDAQResource", nidaqResource);
    writer->AddInt(L"PFITimestamp", pfiTimestamp);
    writer->AddString(L"PFITerminal", pfiTerminal);
    writer->AddBool(L"UseTTL", useTTL);
}
