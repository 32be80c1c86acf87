#include "WindowRules.h"

#include "WindowTexts.h"

#include <gtest/gtest.h>

using ostrapel::CloseStep;
using ostrapel::ControlStates;
using ostrapel::WindowRules;

TEST(WindowRules, ClosingDuringABatchOffersToCancelIt) {
    WindowRules rules;
    EXPECT_EQ(rules.RequestClose(), CloseStep::CloseNow);
    ASSERT_TRUE(rules.StartBatch());
    EXPECT_EQ(rules.RequestClose(), CloseStep::AskToCancel);
    EXPECT_FALSE(rules.EndBatch()); // declined: the window stays after the batch
    ASSERT_TRUE(rules.StartBatch());
    EXPECT_EQ(rules.RequestClose(), CloseStep::AskToCancel);
    rules.CancelAndClose();
    EXPECT_EQ(rules.RequestClose(), CloseStep::Wait); // asked once
    EXPECT_TRUE(rules.BatchRunning());
    EXPECT_TRUE(rules.EndBatch()); // the close chosen meanwhile happens now
    ASSERT_TRUE(rules.StartBatch());
    EXPECT_FALSE(rules.EndBatch()); // and only once
    rules.CancelAndClose();         // no batch: nothing to close after
    EXPECT_EQ(rules.RequestClose(), CloseStep::CloseNow);
}

// A restore cannot be cancelled: closing during one asks nothing and closes once it has ended.
TEST(WindowRules, ClosingDuringARestoreClosesOnceItHasEnded) {
    WindowRules rules;
    rules.ChooseVersion("1.00");
    rules.FolderListed(true);
    ASSERT_TRUE(rules.StartBatch(false));
    EXPECT_EQ(rules.Controls(), (ControlStates{false, false, false, false}));
    EXPECT_EQ(rules.RequestClose(), CloseStep::Wait);
    EXPECT_EQ(rules.RequestClose(), CloseStep::Wait);
    EXPECT_TRUE(rules.EndBatch());
    EXPECT_EQ(rules.Controls(), (ControlStates{true, true, true}));
    EXPECT_EQ(rules.RequestClose(), CloseStep::CloseNow);

    // A batch after it is offered to be cancelled again.
    ASSERT_TRUE(rules.StartBatch());
    EXPECT_EQ(rules.RequestClose(), CloseStep::AskToCancel);
    EXPECT_FALSE(rules.EndBatch());
}

// What both windows show beside a name and in the file list's caption.
TEST(WindowTexts, VersionsBesideTheNamesAndTheProgressCount) {
    using ostrapel::FileOutcome;
    EXPECT_EQ(ostrapel::ReadVersionText(FileOutcome{.name = "a", .oldValue = 200}), "2.00");
    EXPECT_EQ(ostrapel::ReadVersionText(FileOutcome{.name = "a", .oldValue = 250}), "250");
    EXPECT_EQ(ostrapel::ReadVersionText(FileOutcome{.name = "a", .oldValue = -1}), "-1");
    EXPECT_EQ(ostrapel::ReadVersionText(FileOutcome{.name = "a", .reason = "cipher tool failed"}),
              "not read");

    // Changed, or at the version already: the new version. Left as it was: what was shown stays.
    EXPECT_EQ(ostrapel::VersionAfterBatch(
                  FileOutcome{.name = "a", .changed = true, .oldValue = 100, .newValue = 300}),
              "3.00");
    EXPECT_EQ(ostrapel::VersionAfterBatch(
                  FileOutcome{.name = "a", .already = true, .oldValue = 300, .newValue = 300}),
              "3.00");
    EXPECT_EQ(ostrapel::VersionAfterBatch(
                  FileOutcome{.name = "a", .reason = "cancelled", .oldValue = 100}),
              std::nullopt);

    EXPECT_EQ(ostrapel::ProgressCount(0, 3, 12), "Reading 3 of 12: ");
    EXPECT_EQ(ostrapel::ProgressCount(3, 16, 16), "Replacing 16 of 16: ");
}
