// The host's settings tree: writing and reading every value type, iteration, merge and replace.
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

// The string values of a level, in order.
std::vector<std::wstring> Strings(CZtLiteVariantR& reader) {
    std::vector<std::wstring> values;
    for (int status = reader.FirstChild(); status == 0; status = reader.NextChild()) {
        if (reader.GetChildType() == EZtVariantType::String) {
            values.push_back(reader.GetChildString(L"").Str());
        }
    }
    return values;
}

}  // namespace

TEST(SettingsTree, AValueOfAnotherTypeReadsAsMissing) {
    CZtLiteVariantW tree;
    tree.AddInt(L"FileVersion", 8);
    tree.AddString(L"Port", L"3");
    tree.AddBool(L"Used", true);
    tree.OpenLevel(L"Level");
    tree.Finalize();

    CZtLiteVariantR reader(tree);
    EXPECT_EQ(reader.GetUInt(L"FileVersion", 99), 99u);
    EXPECT_EQ(reader.GetDouble(L"FileVersion", 1.5), 1.5);
    EXPECT_FALSE(reader.GetBool(L"FileVersion", false));
    EXPECT_EQ(reader.GetInt(L"Port", -1), -1);
    EXPECT_EQ(reader.GetInt(L"Used", -1), -1);
    EXPECT_EQ(reader.GetString(L"Level", L"none"), L"none");
    EXPECT_EQ(reader.OpenLevel(L"FileVersion"), -5);

    // A value of each type under one name: each type reads its own.
    tree.AddUInt(L"FileVersion", 9);
    CZtLiteVariantR both(tree);
    EXPECT_EQ(both.GetInt(L"FileVersion", 0), 8);
    EXPECT_EQ(both.GetUInt(L"FileVersion", 0), 9u);

    ASSERT_EQ(reader.FirstChild(), 0);
    EXPECT_EQ(reader.GetChildUInt(5), 5u);
    EXPECT_EQ(reader.GetChildString(L"x"), L"x");
    EXPECT_EQ(reader.GetChildInt(0), 8);
}

TEST(SettingsTree, UnnamedAndRepeatedItemsKeepTheirOrder) {
    CZtLiteVariantW tree;
    tree.OpenLevel(L"ShutterChain");
    tree.AddString(L"Shutter", L"S1");
    tree.AddString(L"Shutter", L"S2");
    tree.AddString(nullptr, L"unnamed");
    tree.AddString(L"Shutter", L"S3");
    tree.CloseLevel();
    tree.OpenLevel(L"NIDAQResource");
    tree.AddString(L"", L"Dev1");
    tree.CloseLevel();
    for (int element = 0; element < 3; ++element) {
        tree.OpenLevel(nullptr);
        tree.AddDouble(L"m_pdCalibrationMatrixDMDToCam", element + 0.5);
        tree.CloseLevel();
    }
    tree.OpenLevel(L"");
    tree.AddBool(nullptr, true);
    tree.CloseLevel();

    CZtLiteVariantR reader(tree);
    EXPECT_EQ(Children(reader),
              (std::vector<std::wstring>{
                  Item(EZtVariantType::Level, L"ShutterChain"),
                  Item(EZtVariantType::Level, L"NIDAQResource"), Item(EZtVariantType::Level, L""),
                  Item(EZtVariantType::Level, L""), Item(EZtVariantType::Level, L""),
                  Item(EZtVariantType::Level, L"")}));

    ASSERT_EQ(reader.OpenLevel(L"ShutterChain"), 0);
    EXPECT_EQ(Strings(reader), (std::vector<std::wstring>{L"S1", L"S2", L"unnamed", L"S3"}));
    EXPECT_EQ(reader.GetString(L"Shutter", L""), L"S1");
    EXPECT_EQ(reader.GetString(nullptr, L""), L"unnamed");
    ASSERT_EQ(reader.CloseLevel(), 0);

    ASSERT_EQ(reader.OpenLevel(L"NIDAQResource"), 0);
    EXPECT_EQ(reader.GetString(nullptr, L""), L"Dev1");
    reader.CloseLevel();

    // Unnamed levels in turn: leaving one continues with the next sibling.
    std::vector<double> elements;
    ASSERT_EQ(reader.FirstChild(), 0);
    for (int status = 0; status == 0; status = reader.NextChild()) {
        if (reader.GetChildName().IsEmpty() && reader.OpenChild() == 0) {
            elements.push_back(reader.GetDouble(L"m_pdCalibrationMatrixDMDToCam", -1.0));
            EXPECT_EQ(reader.CloseLevel(), 0);
        }
    }
    EXPECT_EQ(elements, (std::vector<double>{0.5, 1.5, 2.5, -1.0}));

    ASSERT_EQ(reader.OpenLevel(nullptr), 0);
    EXPECT_EQ(reader.GetDouble(L"m_pdCalibrationMatrixDMDToCam", -1.0), 0.5);
}

TEST(SettingsTree, LevelsAndPositionsReportWhatIsMissing) {
    CZtLiteVariantW tree;
    EXPECT_EQ(tree.CloseLevel(), -5);
    tree.AddInt(L"Value", 1);
    tree.OpenLevel(L"A");
    tree.OpenLevel(L"B");
    tree.AddInt(L"Deep", 2);
    EXPECT_EQ(tree.Finalize(), 0);
    EXPECT_EQ(tree.CloseLevel(), -5);
    tree.AddInt(L"AfterFinalize", 3);

    CZtLiteVariantR reader(tree);
    EXPECT_EQ(reader.CloseLevel(), -5);
    EXPECT_EQ(reader.OpenLevel(L"B"), -5);
    EXPECT_EQ(reader.GetInt(L"AfterFinalize", 0), 3);
    EXPECT_EQ(reader.GetChildType(), EZtVariantType::None);
    EXPECT_EQ(reader.OpenChild(), -5);
    EXPECT_EQ(reader.NextChild(), -5);
    ASSERT_EQ(reader.FirstChild(), 0);
    EXPECT_EQ(reader.OpenChild(), -5);  // a value
    ASSERT_EQ(reader.NextChild(), 0);
    ASSERT_EQ(reader.OpenChild(), 0);
    ASSERT_EQ(reader.OpenLevel(L"B"), 0);
    EXPECT_EQ(reader.GetInt(L"Deep", 0), 2);
    EXPECT_EQ(reader.FirstChild(), 0);
    EXPECT_EQ(reader.NextChild(), -5);
    EXPECT_EQ(reader.GetChildName(), L"");
    reader.CloseLevel();
    reader.CloseLevel();
    ASSERT_EQ(reader.NextChild(), 0);
    EXPECT_EQ(reader.GetChildName(), L"AfterFinalize");
    EXPECT_EQ(reader.NextChild(), -5);

    // The reader holds its own copy.
    tree.AddInt(L"Later", 4);
    EXPECT_EQ(reader.GetInt(L"Later", -1), -1);
    const CZtLiteVariantR empty;
    EXPECT_EQ(empty.GetInt(L"Value", -1), -1);
}

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
