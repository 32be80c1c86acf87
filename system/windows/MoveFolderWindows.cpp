#include "WindowsText.h"
#include "system/MoveFolder.h"

#include <windows.h>

namespace ostrapel {

Status MoveFolder(const std::string& from, const std::string& to) {
    // Without MOVEFILE_REPLACE_EXISTING: an existing target is refused, never merged into.
    if (!::MoveFileExW(win::FilePath(from).c_str(), win::FilePath(to).c_str(), 0)) {
        return win::LastErrorStatus();
    }
    return Status::Ok();
}

} // namespace ostrapel
