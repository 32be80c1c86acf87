// What a name leads to: links and reparse points, final and on-disk paths; the program's own
// entries, its folder lock, and the current directory.

#include "FileSystemWindowsInternal.h"
#include "ReplaceRules.h"
#include "WindowsText.h"
#include "system/FileSystem.h"
#include "system/Paths.h"

#include <algorithm>
#include <windows.h>

namespace ostrapel {

using win::AttributesOf;
using win::FinalPathOf;
using win::Handle;
using win::kShareAll;
using win::OpenToLookAt;

namespace {

// The reparse tag of an entry itself (a link not followed); 0 for none.
DWORD ReparseTagOf(const std::string& path) {
    Handle entry(::CreateFileW(win::FilePath(path).c_str(), FILE_READ_ATTRIBUTES, kShareAll,
                               nullptr, OPEN_EXISTING,
                               FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    FILE_ATTRIBUTE_TAG_INFO info{};
    if (!entry.valid() ||
        !::GetFileInformationByHandleEx(entry.get(), FileAttributeTagInfo, &info, sizeof info)) {
        return 0;
    }
    return (info.FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 ? info.ReparseTag : 0;
}

} // namespace

namespace win {

bool IsLinkTag(unsigned long tag) {
    return IsReparseTagNameSurrogate(tag);
}

std::wstring FinalPathOf(HANDLE handle, DWORD volumeName) {
    std::wstring buffer(MAX_PATH, L'\0');
    for (;;) {
        const DWORD length =
            ::GetFinalPathNameByHandleW(handle, buffer.data(), static_cast<DWORD>(buffer.size()),
                                        FILE_NAME_NORMALIZED | volumeName);
        // Too small a buffer: the size needed, or (under Wine) 0 with ERROR_MORE_DATA.
        const bool tooSmall =
            length >= buffer.size() || (length == 0 && ::GetLastError() == ERROR_MORE_DATA);
        if (tooSmall && buffer.size() < 32768) {
            buffer.resize(std::max<std::size_t>(length + 1, buffer.size() * 2));
            continue;
        }
        if (length == 0 || length >= buffer.size()) {
            return {};
        }
        buffer.resize(length);
        return buffer;
    }
}

} // namespace win

namespace {

// An absolute path with every name as it is on disk: short (8.3) names expanded and each name
// in its own case. Names that do not exist (yet) stay as given.
std::wstring OnDiskNames(const std::wstring& extended) {
    // \\?\C:\ or \\?\UNC\server\share\ stays; the names after it are looked up one by one.
    std::size_t at = extended.rfind(L"\\\\?\\UNC\\", 0) == 0
                         ? extended.find(L'\\', extended.find(L'\\', 8) + 1)
                         : extended.find(L'\\', 4);
    if (at == std::wstring::npos) {
        return extended;
    }
    std::wstring result = extended.substr(0, at + 1);
    if (result.size() >= 6 && result[5] == L':') {
        result[4] = static_cast<wchar_t>(::towupper(result[4]));
    }
    bool found = true;
    while (at + 1 < extended.size()) {
        std::size_t end = extended.find(L'\\', at + 1);
        if (end == std::wstring::npos) {
            end = extended.size();
        }
        std::wstring name = extended.substr(at + 1, end - at - 1);
        if (found) {
            WIN32_FIND_DATAW data;
            HANDLE find = ::FindFirstFileExW((result + name).c_str(), FindExInfoBasic, &data,
                                             FindExSearchNameMatch, nullptr, 0);
            found = find != INVALID_HANDLE_VALUE;
            if (found) {
                name = data.cFileName;
                ::FindClose(find);
            }
        }
        result += name;
        if (end < extended.size()) {
            result += L'\\';
        }
        at = end;
    }
    return result;
}

// A path from the \\?\ form back to the usual one: \\?\C:\... to C:\..., \\?\UNC\server\... to
// \\server\...
std::string UsualPath(const std::wstring& extended) {
    std::string path = win::Utf8(extended);
    if (path.rfind("\\\\?\\UNC\\", 0) == 0) {
        path.erase(0, 6); // "C\\server...", whose C becomes the second backslash
        path[0] = '\\';
    } else if (path.rfind("\\\\?\\", 0) == 0 && path.size() > 5 && path[5] == ':') {
        path.erase(0, 4);
    }
    return path;
}

} // namespace

std::string ResolvedPath(const std::string& path) {
    Handle handle(OpenToLookAt(path));
    if (!handle.valid()) {
        return {};
    }
    if (std::wstring final = FinalPathOf(handle.get(), VOLUME_NAME_DOS); !final.empty()) {
        return UsualPath(final);
    }
    // Some volumes (RAM disks, others the mount manager does not know) and some systems (Wine,
    // for a long path) cannot name a file this way: the absolute path with its names as they are
    // on disk serves as well, though links on the way stay unresolved.
    return UsualPath(OnDiskNames(win::FilePath(path)));
}

FolderLock::FolderLock(const std::string& folder, bool sharedWithPrograms) {
    (void)sharedWithPrograms; // its handle is never inherited
    // A lock file beside the folder, so the folder itself can be emptied completely. The lock
    // goes with the handle, also when this process dies. A started tool needs no share of it:
    // it runs in a job that ends with this process.
    std::string name = folder;
    while (name.size() > 1 && (name.back() == '\\' || name.back() == '/')) {
        name.pop_back();
    }
    const auto slash = name.find_last_of("\\/");
    const std::string lockFile =
        JoinPath(ParentOf(name), kTemporaryPrefix + name.substr(slash + 1) + ".lock");
    if (KindOf(folder) != EntryKind::Directory) {
        status_ = win::ErrorStatus(ERROR_PATH_NOT_FOUND);
        return;
    }
    Handle file(::CreateFileW(win::FilePath(lockFile).c_str(), GENERIC_READ | GENERIC_WRITE,
                              kShareAll, nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_HIDDEN, nullptr));
    if (!file.valid()) {
        status_ = win::LastErrorStatus();
        return;
    }
    OVERLAPPED whole{};
    if (!::LockFileEx(file.get(), LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0,
                      &whole)) {
        const DWORD error = ::GetLastError();
        busy_ = error == ERROR_LOCK_VIOLATION || error == ERROR_IO_PENDING;
        status_ = busy_ ? Status::Fail("locked by another program") : win::ErrorStatus(error);
        return;
    }
    handle_ = reinterpret_cast<std::intptr_t>(file.release());
}

FolderLock::~FolderLock() {
    if (handle_ != -1) {
        ::CloseHandle(reinterpret_cast<HANDLE>(handle_));
    }
}

Status CheckOwnEntry(const std::string& path, EntryKind kind) {
    const DWORD attributes = AttributesOf(path);
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        return win::LastErrorStatus();
    }
    if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 && win::IsLinkTag(ReparseTagOf(path))) {
        return Status::Fail("is a symbolic link");
    }
    const bool folder = (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    if (kind == EntryKind::Directory && !folder) {
        return Status::Fail("is not a folder");
    }
    if (kind == EntryKind::File && (folder || (attributes & FILE_ATTRIBUTE_DEVICE) != 0)) {
        return Status::Fail("is not a regular file");
    }
    return Status::Ok();
}

bool IsSymbolicLink(const std::string& path) {
    const DWORD attributes = AttributesOf(path);
    return attributes != INVALID_FILE_ATTRIBUTES &&
           (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 && win::IsLinkTag(ReparseTagOf(path));
}

Status MakePrivateDirectory(const std::string& path) {
    // A new folder inherits the access rules of the one it is in: the user's own in the
    // data folder.
    return MakeDirectory(path);
}

Status RemoveOwnFolder(const std::string& path) {
    if (AttributesOf(path) == INVALID_FILE_ATTRIBUTES) {
        return Status::Ok();
    }
    if (Status own = CheckOwnEntry(path, EntryKind::Directory); !own) {
        return own;
    }
    Status removed = RemoveFilesIn(path);
    Status gone = RemoveEmptyDirectory(path);
    return removed ? gone : removed;
}

Status SetCurrentDirectory(const std::string& path) {
    ResolveEnvironmentPaths();
    if (!::SetCurrentDirectoryW(win::Wide(path).c_str())) {
        return win::LastErrorStatus();
    }
    return Status::Ok();
}

std::string CurrentDirectory() {
    const DWORD needed = ::GetCurrentDirectoryW(0, nullptr);
    if (needed == 0) {
        return {};
    }
    std::wstring buffer(needed, L'\0');
    const DWORD length = ::GetCurrentDirectoryW(needed, buffer.data());
    if (length == 0 || length >= needed) {
        return {};
    }
    buffer.resize(length);
    return win::Utf8(buffer);
}

} // namespace ostrapel
