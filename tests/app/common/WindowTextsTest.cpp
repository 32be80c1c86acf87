#include "WindowTexts.h"

#include <gtest/gtest.h>

using namespace ostrapel;

namespace {

struct ShownCase {
    const char* what;
    std::vector<std::string> names;
    std::vector<std::string> shown;
    std::size_t maxLength = kShownNameLength;
};

} // namespace

TEST(WindowTexts, ShownNamesLeaveOutASharedBeginningThenCutInTheMiddle) {
    const std::vector<ShownCase> cases = {
        {"a long shared beginning is left out",
         {"Autosave_Chapter03_Checkpoint_123.sav", "Autosave_Chapter03_Checkpoint_124.sav",
          "Autosave_Chapter04_Checkpoint_001.sav"},
         {"...03_Checkpoint_123.sav", "...03_Checkpoint_124.sav", "...04_Checkpoint_001.sav"}},
        {"a name unlike its neighbours is shown whole, and splits the runs",
         {"Autosave_Slot_1.sav", "Autosave_Slot_2.sav", "notes.txt", "Profile_Backup_A.sav",
          "Profile_Backup_B.sav"},
         {"...1.sav", "...2.sav", "notes.txt", "...A.sav", "...B.sav"}},
        {"a number or a word that goes on is kept whole",
         {"Slot_Profile_100.sav", "Slot_Profile_199.sav", "Checkpointing_a", "Checkpoints_b"},
         {"...100.sav", "...199.sav", "Checkpointing_a", "Checkpoints_b"}},
        {"a short shared beginning is kept",
         {"slot_01.sav", "slot_02.sav"},
         {"slot_01.sav", "slot_02.sav"}},
        {"a name that is the whole beginning keeps its last word",
         {"Autosave_Chapter", "Autosave_Chapter2"},
         {"...Chapter", "...Chapter2"}},
        {"a single name is only cut",
         {"Autosave_Chapter03_Checkpoint_123.sav"},
         {"Autosave_Ch...nt_123.sav"},
         24},
        {"left out, then cut",
         {"Autosave_Chapter03_Checkpoint_123_with_a_long_tail.sav",
          "Autosave_Chapter03_Checkpoint_124_with_a_long_tail.sav"},
         {"...123_wi...tail.sav", "...124_wi...tail.sav"},
         20},
        {"no character is split",
         {"Sauvegarde_\xC3\xA9t\xC3\xA9_1", "Sauvegarde_\xC3\xA9t\xC3\xA9_2"},
         {"...1", "...2"}},
        {"nothing listed", {}, {}},
    };
    for (const ShownCase& c : cases) {
        EXPECT_EQ(ShownNames(c.names, c.maxLength), c.shown) << c.what;
    }
}

TEST(WindowTexts, AccessKeyMarksAreLeftOutOrEscaped) {
    EXPECT_EQ(WithoutAccessKey(kApplyText), "Apply and Save");
    EXPECT_EQ(WithoutAccessKey(kVersionLabel), "Select DLC Version :");
    EXPECT_EQ(WithoutAccessKey("Saves && more&"), "Saves & more&");
    EXPECT_EQ(WithoutAccessKey(EscapeAccessKeys("R&D && more")), "R&D && more");
}
