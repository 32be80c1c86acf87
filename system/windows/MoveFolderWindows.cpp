#include "FileSystemWindowsInternal.h"
#include "WindowsText.h"
#include "system/MoveFolder.h"

#include <windows.h>

namespace ostrapel {

Status MoveFolder(const std::string& from, const std::string& to) {
    const std::wstring source = win::FilePath(from);
    const std::wstring target = win::FilePath(to);
    // Tried again like every other write: a scanner that opens a file just copied in (a new
    // program, above all) keeps the folder from being renamed meanwhile. Without
    // MOVEFILE_REPLACE_EXISTING: an existing target is refused, never merged into.
    const DWORD error = win::Retrying([&] {
        return ::MoveFileExW(source.c_str(), target.c_str(), 0) ? DWORD{0} : ::GetLastError();
    });
    return error == 0 ? Status::Ok() : win::WriteFailure(error, win::FolderOf(to));
}

} // namespace ostrapel
