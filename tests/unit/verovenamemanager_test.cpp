// The brand names: which provider a brand selects, and translated names that stay valid.
#include <gtest/gtest.h>

#include "cztverovenamemanager.h"
#include "zthost/zthost.h"

namespace {

TEST(VeroveNameManager, StartsWithTheVelmarNames) {
    // Must run before any test changes the brand: the manager is process-wide.
    CZtVeroveNameManager& names = CZtVeroveNameManager::Instance();
    EXPECT_EQ(names.GetBrand(), 2);
    EXPECT_STREQ(names.GetName(), L"VelmarDMD");
    EXPECT_STREQ(names.GetSettingsName(), L"VelmarDMDSettings");
    EXPECT_STREQ(names.GetDisplayName(), L"Velmar DMD");
    EXPECT_STREQ(names.GetDeviceName(), L"Velmar DMD");
}

TEST(VeroveNameManager, BrandSelectsTheProvider) {
    CZtVeroveNameManager& names = CZtVeroveNameManager::Instance();
    names.SetBrand(1);
    EXPECT_STREQ(names.GetName(), L"AndorVerove");
    EXPECT_STREQ(names.GetSettingsName(), L"AndorVeroveSettings");
    EXPECT_STREQ(names.GetDisplayName(), L"Andor Verove 3");
    EXPECT_STREQ(names.GetDeviceName(), L"Andor Verove 3");
    for (int brand : {0, 3, -1}) {
        names.SetBrand(brand);
        EXPECT_EQ(names.GetBrand(), brand);
        EXPECT_STREQ(names.GetName(), L"");
        EXPECT_STREQ(names.GetSettingsName(), L"");
        EXPECT_STREQ(names.GetDisplayName(), L"");
        EXPECT_STREQ(names.GetDeviceName(), L"");
    }
    names.SetBrand(2);
    EXPECT_STREQ(names.GetDisplayName(), L"Velmar DMD");
}

TEST(VeroveNameManager, TranslatedNamesStayValidWhenTheTranslationChanges) {
    CZtVeroveNameManager& names = CZtVeroveNameManager::Instance();
    names.SetBrand(1);
    zthost::SetTranslation(L"Andor Verove 3", L"Andor Verove 3 (de)");
    const wchar_t* first = names.GetDisplayName();
    EXPECT_STREQ(first, L"Andor Verove 3 (de)");
    zthost::SetTranslation(L"Andor Verove 3", L"Andor Verove 3 (fr)");
    EXPECT_STREQ(names.GetDisplayName(), L"Andor Verove 3 (fr)");
    EXPECT_STREQ(first, L"Andor Verove 3 (de)");
    zthost::ClearTranslations();
    names.SetBrand(2);
}

}  // namespace
