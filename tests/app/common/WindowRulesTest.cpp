#include "WindowRules.h"

#include <gtest/gtest.h>

using ostrapel::ControlStates;
using ostrapel::WindowRules;

TEST(WindowRules, SaveEnablesWithTheFirstChoiceMatchingOrNot) {
    WindowRules rules;
    EXPECT_EQ(rules.Controls(), (ControlStates{true, true, false}));
    EXPECT_EQ(rules.ChooseVersion("2.0"), std::nullopt);
    EXPECT_TRUE(rules.Controls().save);
    EXPECT_EQ(rules.ChooseVersion("2.00"), "200");
    EXPECT_EQ(rules.ChooseVersion("0.00"), "0");
    EXPECT_EQ(rules.ChooseVersion(""), std::nullopt);
    EXPECT_TRUE(rules.Controls().save);
}

TEST(WindowRules, ABatchLocksTheControlsAndGivesThemBack) {
    WindowRules rules;
    ASSERT_TRUE(rules.StartBatch()); // before any choice: save stays disabled afterwards
    EXPECT_EQ(rules.Controls(), (ControlStates{false, false, false}));
    EXPECT_FALSE(rules.StartBatch());
    EXPECT_FALSE(rules.MayLoadFolder());
    EXPECT_EQ(rules.ChooseVersion("3.00"), std::nullopt); // ignored while it runs
    EXPECT_FALSE(rules.EndBatch());
    EXPECT_EQ(rules.Controls(), (ControlStates{true, true, false}));
    EXPECT_TRUE(rules.MayLoadFolder());

    rules.ChooseVersion("1.00");
    ASSERT_TRUE(rules.StartBatch());
    EXPECT_FALSE(rules.EndBatch());
    EXPECT_EQ(rules.Controls(), (ControlStates{true, true, true}));
    EXPECT_FALSE(rules.EndBatch()); // no batch: nothing to end
}

TEST(WindowRules, ClosingWaitsForTheBatch) {
    WindowRules rules;
    EXPECT_TRUE(rules.RequestClose());
    ASSERT_TRUE(rules.StartBatch());
    EXPECT_FALSE(rules.RequestClose());
    EXPECT_TRUE(rules.BatchRunning());
    EXPECT_TRUE(rules.EndBatch()); // the close asked for meanwhile happens now
    ASSERT_TRUE(rules.StartBatch());
    EXPECT_FALSE(rules.EndBatch()); // and only once
}
