// The device settings file: loading and saving one device's record, and checking its pattern files.
#include "cztverovesettingsfile.h"

#include <QFile>
#include <QFileInfo>
#include <QString>
#include <algorithm>
#include <memory>
#include <string>

#include "verove_log.h"
#include "zt/zt_util.h"

namespace {

// Replaces the list level at the end of the path below the device's definition by an empty one.
int ClearListLevel(CZtLiteVariantW* file, const wchar_t* uniqueName, const wchar_t* parent,
                   const wchar_t* list) {
    CZtStringW path;
    path.Format(L"\\%s\\%s\\%s\\%s\\%s", L"Verove", uniqueName, L"Definition", parent, list);
    CZtLiteVariantW empty;
    empty.OpenLevel(list);
    empty.Finalize();
    return file->Replace(path, empty);
}

void Warn(const CZtStringW& text) {
    VEROVE_LOG("CZtVeroveSettingsFile::CheckBitmapPatterns", L"%s", text.GetString());
    ZT_MessageBox_(nullptr, text, ZT_GetTranslation(L"Warning"), ZT_MB_OK | ZT_MB_ICONWARNING);
}

}  // namespace

int CZtVeroveSettingsFile::Load(const wchar_t* fileName, const wchar_t* uniqueName,
                                CZtVeroveSettings* settings) {
    if (!settings) {
        return -4;
    }
    settings->Reset();
    if (!fileName || !uniqueName) {
        return -4;
    }
    const char* function = "CZtVeroveSettingsFile::Load";
    CZtLoadSettingsManager manager;
    CZtLiteVariantR* reader = nullptr;
    if (manager.PrepareLoading(WithoutExtension(fileName).c_str(), 1, nullptr) == 1) {
        reader = manager.GetLiteVariant(0);
    }
    if (!reader || reader->OpenLevel(L"Verove") != 0) {
        VEROVE_LOG(function, L"No settings in %s, defaults used.", fileName);
        return -5;
    }
    const std::int32_t version = reader->GetInt(L"FileVersion", 0);
    if (version != kFileVersion) {
        VEROVE_LOG(function, L"Settings file version %d is not supported, defaults used.",
                   static_cast<int>(version));
        return -9;
    }
    if (reader->OpenLevel(uniqueName) != 0) {
        VEROVE_LOG(function, L"No settings for %s in %s, defaults used.", uniqueName, fileName);
        return -5;
    }
    return settings->Read(reader);
}

std::wstring CZtVeroveSettingsFile::WithoutExtension(const wchar_t* fileName) {
    std::wstring name(fileName);
    const std::wstring extension = L".bin";
    if (name.size() >= extension.size() &&
        name.compare(name.size() - extension.size(), extension.size(), extension) == 0) {
        name.erase(name.size() - extension.size());
    }
    return name;
}

int CZtVeroveSettingsFile::Save(const wchar_t* fileName, const wchar_t* uniqueName,
                                const CZtVeroveSettings& settings) {
    if (!fileName || !uniqueName) {
        return -4;
    }
    const char* function = "CZtVeroveSettingsFile::Save";
    CZtLiteVariantW tree;
    tree.OpenLevel(L"Verove");
    tree.AddInt(L"FileVersion", kFileVersion);
    settings.Write(&tree, uniqueName);
    tree.Finalize();

    // Repeated items merge by position: without emptying the stored lists first, a list that
    // became shorter would keep the old tail entries.
    return MergeIntoFile(function, fileName, tree, [&](CZtLiteVariantW* file) {
        if (ClearListLevel(file, uniqueName, L"Illumination", L"ShutterChain") != 0) {
            VEROVE_LOG(function, L"Failed to clear shutter chain settings.");
        }
        if (ClearListLevel(file, uniqueName, L"Patterns", L"Bitmaps") != 0) {
            VEROVE_LOG(function, L"Failed to clear bitmap pattern settings.");
        }
    });
}

int CZtVeroveSettingsFile::MergeIntoFile(const char* function, const wchar_t* fileName,
                                         const CZtLiteVariantW& tree,
                                         const std::function<void(CZtLiteVariantW*)>& clear) {
    CZtLiteVariantW file;
    if (ZT_LoadSettingsFile(fileName, &file) == 0) {
        clear(&file);
        file.Merge(tree);
    } else {
        file = tree;
    }
    const int result = ZT_SaveSettingsFile(fileName, file);
    if (result != 0) {
        VEROVE_LOG(function, L"Failed to save settings file %s, error %d.", fileName, result);
    }
    return result;
}

void CZtVeroveSettingsFile::CheckBitmapPatterns(
    CZtVeroveSettings* settings, std::uint32_t width, std::uint32_t height,
    std::vector<std::unique_ptr<CZtPattern>>* patterns) {
    if (!settings || !patterns) {
        return;
    }
    patterns->clear();
    std::vector<SZtPatternFile>& entries = settings->bitmaps;
    for (auto entry = entries.begin(); entry != entries.end();) {
        const CZtStringW& name = entry->name;
        const CZtStringW& path = entry->filePath;
        if (name.IsEmpty() || path.IsEmpty()) {
            ++entry;
            continue;
        }
        const QString file = QString::fromStdWString(path.Str());
        CZtStringW text;
        if (!QFileInfo::exists(file)) {
            text.Format(ZT_GetTranslation(
                            L"Image file %s doesn't exist, pattern %s will not be available."),
                        path.GetString(), name.GetString());
            Warn(text);
            ++entry;
            continue;
        }
        // Opening tells what the file's permissions alone do not: a folder, a locked file.
        QFile readable(file);
        if (!readable.open(QIODevice::ReadOnly)) {
            text.Format(ZT_GetTranslation(
                            L"Image file %s is not readable, pattern %s will not be available."),
                        path.GetString(), name.GetString());
            Warn(text);
            ++entry;
            continue;
        }
        readable.close();
        const bool taken = std::any_of(patterns->begin(), patterns->end(),
                                       [&name](const auto& p) { return p->GetName() == name; });
        if (taken) {
            text.Format(
                ZT_GetTranslation(L"Pattern %s already in list, duplicate will be removed."),
                name.GetString());
            Warn(text);
            entry = entries.erase(entry);
            continue;
        }
        SZtPicBuf picture;
        if (CZtPattern::LoadPictureFile(path, &picture) != 0) {
            text.Format(L"%s%s", ZT_GetTranslation(L"Unable to parse the file: ").GetString(),
                        path.GetString());
            Warn(text);
            ++entry;
            continue;
        }
        auto pattern = std::make_unique<CZtPattern>(name, width, height);
        pattern->SetBitmap(&picture);
        // The identifier follows the entry's place in the list, not the patterns made so far:
        // an entry whose file went missing keeps the identifiers of the others.
        pattern->SetId(kFirstFilePatternId + static_cast<std::uint32_t>(entry - entries.begin()));
        pattern->SetMapping(static_cast<std::uint32_t>(entry->mapping));
        pattern->SetKind(1);
        pattern->SetFilePath(path);
        patterns->push_back(std::move(pattern));
        ++entry;
    }
}
