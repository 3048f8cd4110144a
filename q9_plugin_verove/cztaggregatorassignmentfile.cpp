// The aggregator's group assignment in the first device's settings file.
#include "cztaggregatorassignmentfile.h"

#include "cztverovesettingsfile.h"
#include "verove_log.h"
#include "zt/zt_settings.h"

int CZtAggregatorAssignmentFile::Save(const wchar_t* fileName,
                                      const std::vector<ZtDeviceAssignment>& devices) {
    const char* function = "CZtVeroveAggregator::SaveToFile";
    CZtLiteVariantW tree;
    tree.OpenLevel(L"Verove");
    tree.AddInt(L"FileVersion", CZtVeroveSettingsFile::kFileVersion);
    tree.OpenLevel(L"VeroveAggregator");
    tree.OpenLevel(L"ROIAssignment");
    for (const auto& [name, groups] : devices) {
        tree.OpenLevel(L"DeviceToROI");
        tree.AddString(L"DeviceToROIName", name.GetString());
        tree.AddUInt(L"DeviceToROICount", static_cast<std::uint32_t>(groups.size()));
        int item = 0;
        for (const auto& [group, unused] : groups) {
            CZtStringW key;
            key.Format(L"Item_%d", item++);
            tree.AddUInt(key.GetString(), static_cast<std::uint32_t>(group));
        }
        tree.CloseLevel();
    }
    tree.Finalize();

    // Entries merge by position: without emptying the stored list first, a device that left
    // would keep its old entry.
    return CZtVeroveSettingsFile::MergeIntoFile(
        function, fileName, tree, [&](CZtLiteVariantW* file) {
            CZtStringW path;
            path.Format(L"\\%s\\%s\\%s", L"Verove", L"VeroveAggregator", L"ROIAssignment");
            CZtLiteVariantW empty;
            empty.OpenLevel(L"ROIAssignment");
            empty.Finalize();
            if (file->Replace(path.GetString(), empty) != 0) {
                VEROVE_LOG_DETAIL(function, L"Failed to clear ROI Assignments.");
            }
        });
}

int CZtAggregatorAssignmentFile::Load(const wchar_t* fileName,
                                      std::vector<ZtDeviceAssignment>* devices) {
    const char* function = "CZtVeroveAggregator::LoadFromFile";
    CZtLoadSettingsManager manager;
    if (manager.PrepareLoading(CZtVeroveSettingsFile::WithoutExtension(fileName).c_str(), 1,
                               nullptr) != 1) {
        return -5;
    }
    CZtLiteVariantR* reader = manager.GetLiteVariant(0);
    if (!reader || reader->OpenLevel(L"Verove") != 0) {
        return -5;
    }
    if (reader->GetInt(L"FileVersion", 0) != CZtVeroveSettingsFile::kFileVersion) {
        VEROVE_LOG(function, L"%hs Wrong settings file version", function);
        return -9;
    }
    if (reader->OpenLevel(L"VeroveAggregator") != 0 || reader->OpenLevel(L"ROIAssignment") != 0) {
        return -5;
    }
    std::vector<ZtDeviceAssignment> loaded = *devices;
    for (int at = reader->FirstChild(); at == 0; at = reader->NextChild()) {
        if (reader->OpenChild() != 0) {
            continue;
        }
        const CZtStringW name = reader->GetString(L"DeviceToROIName", L"");
        for (auto& [deviceName, groups] : loaded) {
            if (deviceName == name) {
                groups.clear();
                const std::uint32_t count = reader->GetUInt(L"DeviceToROICount", 0);
                for (std::uint32_t i = 0; i < count; ++i) {
                    CZtStringW key;
                    key.Format(L"Item_%u", i);
                    groups[static_cast<std::int32_t>(reader->GetUInt(key.GetString(), 0))] = 0;
                }
                break;
            }
        }
        reader->CloseLevel();
    }
    *devices = loaded;
    return 0;
}
