// Compares two settings records field by field, for the tests of the record and its users.
#pragma once

#include <gtest/gtest.h>

#include "cztverovesettings.h"

inline void ExpectSameSettings(const CZtVeroveSettings& a, const CZtVeroveSettings& b) {
    ASSERT_EQ(a.bitmaps.size(), b.bitmaps.size());
    for (size_t i = 0; i < a.bitmaps.size(); ++i) {
        EXPECT_EQ(a.bitmaps[i].name, b.bitmaps[i].name);
        EXPECT_EQ(a.bitmaps[i].filePath, b.bitmaps[i].filePath);
        EXPECT_EQ(a.bitmaps[i].mapping, b.bitmaps[i].mapping);
    }
    EXPECT_EQ(a.patternDuration, b.patternDuration);
    EXPECT_EQ(a.bitDepth, b.bitDepth);
    EXPECT_EQ(a.laserLaunchKey, b.laserLaunchKey);
    EXPECT_EQ(a.laserLaunchType, b.laserLaunchType);
    ASSERT_EQ(a.laserLines.size(), b.laserLines.size());
    for (size_t i = 0; i < a.laserLines.size(); ++i) {
        EXPECT_EQ(a.laserLines[i].index, b.laserLines[i].index);
        EXPECT_EQ(a.laserLines[i].visible, b.laserLines[i].visible);
        for (int g = 0; g < 3; ++g) {
            EXPECT_EQ(a.laserLines[i].power[g], b.laserLines[i].power[g]) << i << " " << g;
            EXPECT_EQ(a.laserLines[i].used[g], b.laserLines[i].used[g]) << i << " " << g;
        }
    }
    EXPECT_EQ(a.laserSwitcherKey, b.laserSwitcherKey);
    EXPECT_EQ(a.laserSwitcherPort, b.laserSwitcherPort);
    EXPECT_EQ(a.shutterKeys, b.shutterKeys);
    EXPECT_EQ(a.externalTriggerSet, b.externalTriggerSet);
    EXPECT_EQ(a.nidaqResource, b.nidaqResource);
    EXPECT_EQ(a.pfiTimestamp, b.pfiTimestamp);
    EXPECT_EQ(a.pfiTerminal, b.pfiTerminal);
    EXPECT_EQ(a.useTTL, b.useTTL);
    EXPECT_EQ(a.grayscalingEnabled, b.grayscalingEnabled);
    EXPECT_EQ(a.grayscalingLevelsIndex, b.grayscalingLevelsIndex);
}
