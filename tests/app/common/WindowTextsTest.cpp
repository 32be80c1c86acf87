#include "WindowTexts.h"

#include <gtest/gtest.h>

using namespace ostrapel;

TEST(WindowTexts, AccessKeyMarksAreLeftOutOrEscaped) {
    EXPECT_EQ(WithoutAccessKey(kApplyText), "Apply and Save");
    EXPECT_EQ(WithoutAccessKey(kVersionLabel), "Select DLC Version :");
    EXPECT_EQ(WithoutAccessKey("Saves && more&"), "Saves & more&");
    EXPECT_EQ(WithoutAccessKey(EscapeAccessKeys("R&D && more")), "R&D && more");
}
