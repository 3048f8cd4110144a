// The host's settings tree: merge and replace, which the calibration and settings files rely on.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "zt/zt_settings.h"

namespace {

// Every child of the reader's current level as "type:name", in order.
std::vector<std::wstring> Children(CZtLiteVariantR& reader) {
    std::vector<std::wstring> children;
    for (int status = reader.FirstChild(); status == 0; status = reader.NextChild()) {
        children.push_back(std::to_wstring(static_cast<int>(reader.GetChildType())) + L":" +
                           reader.GetChildName().Str());
    }
    return children;
}

std::wstring Item(EZtVariantType type, const wchar_t* name) {
    return std::to_wstring(static_cast<int>(type)) + L":" + name;
}

}  // namespace

TEST(SettingsTree, ReplaceSplicesTheReplacementsItemsOrFails) {
    CZtLiteVariantW tree;
    tree.OpenLevel(L"Verove");
    tree.OpenLevel(L"Calibration");
    tree.OpenLevel(L"#C:cam");
    tree.AddDouble(L"m_pdCalibrationMatrixCamToDMD", 2.0);
    tree.CloseLevel();
    tree.CloseLevel();
    tree.AddInt(L"After", 1);
    tree.OpenLevel(nullptr);
    tree.AddInt(L"Unnamed", 5);
    tree.Finalize();
    const CZtLiteVariantW before = tree;

    CZtLiteVariantW cleared;
    cleared.AddString(L"Calibration", L"");
    EXPECT_EQ(tree.Replace(L"\\Verove\\Missing", cleared), -5);
    EXPECT_EQ(tree.Replace(L"\\Missing\\Calibration", cleared), -5);
    EXPECT_EQ(
        tree.Replace(L"\\Verove\\Calibration\\#C:cam\\m_pdCalibrationMatrixCamToDMD", cleared),
        -5);  // a value, not a level
    EXPECT_EQ(tree.Replace(L"Verove\\Calibration", cleared), -4);
    EXPECT_EQ(tree.Replace(nullptr, cleared), -4);
    {
        CZtLiteVariantR reader(tree);
        CZtLiteVariantR unchanged(before);
        reader.OpenLevel(L"Verove");
        unchanged.OpenLevel(L"Verove");
        EXPECT_EQ(Children(reader), Children(unchanged));
    }

    ASSERT_EQ(tree.Replace(L"\\Verove\\Calibration", cleared), 0);
    CZtLiteVariantR reader(tree);
    reader.OpenLevel(L"Verove");
    EXPECT_EQ(reader.OpenLevel(L"Calibration"), -5);
    EXPECT_EQ(reader.GetString(L"Calibration", L"x"), L"");
    EXPECT_EQ(Children(reader),
              (std::vector<std::wstring>{Item(EZtVariantType::String, L"Calibration"),
                                         Item(EZtVariantType::Int, L"After"),
                                         Item(EZtVariantType::Level, L"")}));

    // An empty part names an unnamed level; an empty replacement removes the level.
    ASSERT_EQ(tree.Replace(L"\\Verove\\", CZtLiteVariantW()), 0);
    CZtLiteVariantR removed(tree);
    removed.OpenLevel(L"Verove");
    EXPECT_EQ(Children(removed),
              (std::vector<std::wstring>{Item(EZtVariantType::String, L"Calibration"),
                                         Item(EZtVariantType::Int, L"After")}));
}

TEST(SettingsTree, MergeMatchesByKindNameAndOccurrence) {
    CZtLiteVariantW file;
    file.OpenLevel(L"Verove");
    file.AddInt(L"FileVersion", 8);
    file.OpenLevel(L"Calibration");
    file.OpenLevel(L"old");
    file.AddDouble(L"m", 1.0);
    file.CloseLevel();
    file.OpenLevel(L"same");
    file.AddDouble(L"m", 2.0);
    file.AddDouble(L"kept", 3.0);
    file.Finalize();

    // The new calibration is built first and the file merged into it: its values win.
    CZtLiteVariantW fresh;
    fresh.OpenLevel(L"Verove");
    fresh.AddUInt(L"FileVersion", 8);
    fresh.OpenLevel(L"Calibration");
    fresh.OpenLevel(L"same");
    fresh.AddDouble(L"m", 20.0);
    fresh.Finalize();
    ASSERT_EQ(fresh.Merge(file, EZtMerge::KeepValues), 0);

    CZtLiteVariantR reader(fresh);
    ASSERT_EQ(reader.OpenLevel(L"Verove"), 0);
    EXPECT_EQ(reader.GetUInt(L"FileVersion", 0), 8u);
    EXPECT_EQ(reader.GetInt(L"FileVersion", 0), 8);  // another type: kept beside it
    ASSERT_EQ(reader.OpenLevel(L"Calibration"), 0);
    EXPECT_EQ(Children(reader), (std::vector<std::wstring>{Item(EZtVariantType::Level, L"same"),
                                                           Item(EZtVariantType::Level, L"old")}));
    ASSERT_EQ(reader.OpenLevel(L"same"), 0);
    EXPECT_EQ(reader.GetDouble(L"m", 0.0), 20.0);
    EXPECT_EQ(reader.GetDouble(L"kept", 0.0), 3.0);

    // The other way round the source's values win; merging a tree into itself changes nothing.
    file.Merge(fresh);
    file.Merge(file);
    CZtLiteVariantR merged(file);
    merged.OpenLevel(L"Verove");
    merged.OpenLevel(L"Calibration");
    EXPECT_EQ(Children(merged), (std::vector<std::wstring>{Item(EZtVariantType::Level, L"old"),
                                                           Item(EZtVariantType::Level, L"same")}));
    merged.OpenLevel(L"same");
    EXPECT_EQ(Children(merged), (std::vector<std::wstring>{Item(EZtVariantType::Double, L"m"),
                                                           Item(EZtVariantType::Double, L"kept")}));
    EXPECT_EQ(merged.GetDouble(L"m", 0.0), 20.0);
}
