// Where the work folder goes: beside the program, or in the user's own place when the program
// folder is synced or protected (Desktop, Documents, OneDrive, a cloud provider's sync root).

#include "conversion/ProgramFolder.h"

#include "TestSupport.h"
#include "system/Paths.h"

#include <gtest/gtest.h>

using namespace ostrapel;

TEST(ProgramFolder, TheWorkFolderLeavesASyncedOrProtectedProgramFolder) {
    testsupport::TempDir root;
    const auto at = [&root](std::initializer_list<std::string_view> parts) {
        std::string path = root.path();
        for (std::string_view part : parts) {
            path = JoinPath(path, part);
        }
        return path;
    };
    const std::string desktop = at({"Users", "me", "OneDrive", "Desktop"});
    const std::string documents = at({"Users", "me", "Documents"});
    const std::string oneDrive = at({"Users", "me", "OneDrive"});
    const std::string user = at({"Users", "me", "AppData", "Local", "Ostrapel", "Decrypt", "temp"});
    const std::vector<std::string> places{desktop, documents, oneDrive, ""};
    struct Case {
        std::string appDir;
        std::vector<std::string> keptOut;
        bool underSyncRoot;
        std::string userWorkFolder;
        bool moved;
    };
    const Case cases[] = {
        {at({"Games", "Ostrapel"}), places, false, user, false},
        {at({"Users", "me", "OneDrive", "Desktop", "Ostrapel"}), places, false, user, true},
        {desktop, places, false, user, true}, // unpacked onto the Desktop itself
        {at({"Users", "me", "Documents", "tools", "Ostrapel"}), places, false, user, true},
        {at({"Users", "me", "OneDrive", "Ostrapel"}), places, false, user, true},
        {at({"Users", "me", "Documents2", "Ostrapel"}), places, false, user, false}, // a prefix
        {at({"Users", "me", "Downloads", "Ostrapel"}), places, false, user, false},
        {at({"Sync", "Ostrapel"}), places, true, user, true}, // another provider's sync root
        {at({"Users", "me", "Documents", "Ostrapel"}), places, false, "", false}, // nowhere else
        {at({"Users", "me", "Documents", "Ostrapel"}), {}, false, user, false},   // unknown
#ifdef _WIN32
        {"C:\\USERS\\ME\\onedrive\\desktop\\Ostrapel",
         {"C:\\Users\\me\\OneDrive\\Desktop"},
         false,
         user,
         true}, // names compared without regard to case
#endif
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.appDir);
        const bool keepOut = KeepsWorkFolderOut(c.appDir, c.keptOut, c.underSyncRoot);
        const std::string chosen =
            ChooseWorkFolder(WithTrailingSeparator(c.appDir), c.userWorkFolder, keepOut,
                             [](const std::string&) { return true; });
        EXPECT_EQ(chosen, c.moved ? WithTrailingSeparator(c.userWorkFolder)
                                  : WithTrailingSeparator(Join({c.appDir, "Decrypt", "temp"})));
    }
}
