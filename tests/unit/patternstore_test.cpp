// The pattern store: the built-in patterns, finding, adding copies, removing, the current ID.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "cztpatternstore.h"

namespace {

std::vector<std::uint8_t> Grey(CZtPattern* pattern) {
    std::vector<std::uint8_t> frame(std::size_t{pattern->GetWidth()} * pattern->GetHeight(), 0xCD);
    EXPECT_EQ(pattern->GetBitmap(frame.data(), 8, false, nullptr, nullptr), 0);
    return frame;
}

CZtPattern UserPattern(std::uint32_t id, const wchar_t* name) {
    CZtPattern pattern(name, 16, 8);
    pattern.SetId(id);
    pattern.SetKind(1);
    pattern.SetFilePath(L"/data/user.png");
    return pattern;
}

TEST(PatternStore, BuiltInPatternsAreTheSixOfTheDevice) {
    CZtPatternStore store;
    store.SetSize(800, 600);
    store.CreateDefaultPatterns();
    ASSERT_EQ(store.Count(), 6);
    const wchar_t* names[] = {L"Full OFF", L"Full ON", L"Grid", L"S1", L"S2", L"S3"};
    for (int i = 0; i < 6; ++i) {
        CZtPattern* pattern = store.GetAt(i);
        ASSERT_NE(pattern, nullptr);
        EXPECT_EQ(pattern->GetId(), static_cast<std::uint32_t>(i));
        EXPECT_EQ(pattern->GetName(), names[i]);
        EXPECT_EQ(pattern->GetMapping(), i < 3 ? 0u : 1u);
        EXPECT_EQ(pattern->GetKind(), i < 3 ? 3u : 0u);
        EXPECT_EQ(pattern->GetWidth(), 800u);
        EXPECT_EQ(pattern->GetHeight(), 600u);
        EXPECT_EQ(pattern->GetBitmapPicture().IsEmpty(), i >= 3) << i;
        EXPECT_FALSE(pattern->HasStimulationAreas());
    }
    EXPECT_EQ(Grey(store.FindById(0)), std::vector<std::uint8_t>(800 * 600, 0));
    EXPECT_EQ(Grey(store.FindById(1)), std::vector<std::uint8_t>(800 * 600, 255));

    // The stimulation groups render nothing until they hold areas.
    std::vector<std::uint8_t> frame(800 * 600 / 8, 0xCD);
    EXPECT_EQ(store.FindById(3)->GetBitmap(frame.data(), 1, true, nullptr, nullptr), 0);
    EXPECT_EQ(frame, std::vector<std::uint8_t>(800 * 600 / 8, 0xCD));
}

TEST(PatternStore, GridLightsEveryTenthRowAndColumn) {
    CZtPatternStore store;
    store.SetSize(800, 600);
    store.CreateDefaultPatterns();
    CZtPattern* grid = store.FindById(2);
    const std::vector<std::uint8_t> grey = Grey(grid);
    std::vector<std::uint8_t> packed(800 * 600 / 8);
    ASSERT_EQ(grid->GetBitmap(packed.data(), 1, true, nullptr, nullptr), 0);
    for (int y = 0; y < 600; ++y) {
        for (int x = 0; x < 800; ++x) {
            const bool lit = x % 10 == 0 || y % 10 == 0;
            ASSERT_EQ(grey[y * 800 + x], lit ? 255 : 0) << x << ", " << y;
            ASSERT_EQ((packed[y * 100 + x / 8] >> (7 - x % 8)) & 1, lit ? 1 : 0) << x << ", " << y;
        }
    }
}

TEST(PatternStore, AddKeepsACopyWithoutFilePath) {
    CZtPatternStore store;
    CZtPattern user = UserPattern(6, L"User");
    store.Add(user);
    CZtPattern* stored = store.FindById(6);
    ASSERT_NE(stored, nullptr);
    EXPECT_NE(stored, &user);
    EXPECT_EQ(stored->GetName(), L"User");
    EXPECT_EQ(stored->GetKind(), 1u);
    EXPECT_TRUE(stored->GetFilePath().IsEmpty());

    // Later changes to the original stay out of the store, and later additions leave the
    // patterns handed out where they are.
    user.SetName(L"Renamed");
    SZtPicBuf bright;
    CZtPicBufAPI::Alloc(&bright, 16, 8, 8, 1);
    std::memset(bright.data, 255, 16 * 8);
    user.SetBitmap(&bright);
    for (std::uint32_t id = 7; id < 40; ++id) {
        store.Add(UserPattern(id, L"More"));
    }
    EXPECT_EQ(store.FindById(6), stored);
    EXPECT_EQ(stored->GetName(), L"User");
    EXPECT_EQ(stored->GetBitmapPicture().data[0], 0);
}

TEST(PatternStore, RemoveFindsByIdAndShiftsTheRest) {
    CZtPatternStore store;
    store.SetSize(16, 8);
    store.CreateDefaultPatterns();
    store.Add(UserPattern(6, L"A"));
    store.Add(UserPattern(7, L"B"));
    EXPECT_EQ(store.Remove(nullptr), -4);
    const CZtPattern absent = UserPattern(99, L"A");
    EXPECT_EQ(store.Remove(&absent), -13);
    EXPECT_EQ(store.Count(), 8);

    // Any pattern with the ID removes the stored one.
    const CZtPattern sameId = UserPattern(6, L"Other name");
    EXPECT_EQ(store.Remove(&sameId), 0);
    ASSERT_EQ(store.Count(), 7);
    EXPECT_EQ(store.GetAt(6)->GetName(), L"B");
    EXPECT_EQ(store.Remove(store.FindById(2)), 0);
    EXPECT_EQ(store.GetAt(2)->GetName(), L"S1");
    EXPECT_EQ(store.FindById(2), nullptr);
}

TEST(PatternStore, CurrentIdMustNameAStoredPattern) {
    CZtPatternStore store;
    store.SetSize(16, 8);
    store.CreateDefaultPatterns();
    EXPECT_EQ(store.SetCurrentId(4), 0);
    EXPECT_EQ(store.GetCurrentId(), 4);
    EXPECT_EQ(store.SetCurrentId(6), -13);
    EXPECT_EQ(store.SetCurrentId(-1), -13);
    EXPECT_EQ(store.GetCurrentId(), 4);
    store.Add(UserPattern(6, L"User"));
    EXPECT_EQ(store.SetCurrentId(6), 0);
    EXPECT_EQ(store.GetCurrentId(), 6);
}

}  // namespace
