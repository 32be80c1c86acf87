// Reading, writing, copying and listing files, tried again while another program holds them.

#include "FileSystemWindowsInternal.h"
#include "ReplaceRules.h"
#include "WindowsText.h"
#include "system/FileSystem.h"
#include "system/Paths.h"

#include <algorithm>
#include <cstring>
#include <windows.h>

namespace ostrapel {

using win::AttributesOf;
using win::CopyContents;
using win::FolderOf;
using win::Handle;
using win::IdentityOfHandle;
using win::OpenExisting;
using win::OpenToLookAt;
using win::Retrying;
using win::WriteFailure;

namespace {

std::int64_t Combine(DWORD high, DWORD low) {
    return static_cast<std::int64_t>((static_cast<std::uint64_t>(high) << 32) | low);
}

EntryKind KindOfAttributes(DWORD attributes) {
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        return EntryKind::Missing;
    }
    return (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0 ? EntryKind::Directory : EntryKind::File;
}

// Writes all of size bytes; returns 0 or the error code.
DWORD WriteAll(HANDLE out, const char* data, std::size_t size) {
    while (size > 0) {
        const DWORD piece = static_cast<DWORD>(std::min<std::size_t>(size, 1u << 20));
        DWORD put = 0;
        if (!::WriteFile(out, data, piece, &put, nullptr)) {
            return ::GetLastError();
        }
        if (put == 0) {
            return ERROR_WRITE_FAULT;
        }
        data += put;
        size -= put;
    }
    return 0;
}

} // namespace

namespace win {

// Whether the access list of path grants this process access (whatever a filter such as
// Controlled folder access then decides).
std::optional<bool> AccessListGrants(const std::wstring& path, DWORD access) {
    const SECURITY_INFORMATION what =
        OWNER_SECURITY_INFORMATION | GROUP_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION;
    DWORD needed = 0;
    (void)::GetFileSecurityW(path.c_str(), what, nullptr, 0, &needed);
    if (needed == 0) {
        return std::nullopt;
    }
    std::vector<unsigned char> descriptor(needed);
    HANDLE token = nullptr;
    if (!::GetFileSecurityW(path.c_str(), what, descriptor.data(), needed, &needed) ||
        !::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY | TOKEN_DUPLICATE, &token)) {
        return std::nullopt;
    }
    Handle process(token);
    HANDLE copy = nullptr;
    if (!::DuplicateToken(process.get(), SecurityImpersonation, &copy)) {
        return std::nullopt;
    }
    Handle impersonation(copy);
    GENERIC_MAPPING mapping{FILE_GENERIC_READ, FILE_GENERIC_WRITE, FILE_GENERIC_EXECUTE,
                            FILE_ALL_ACCESS};
    PRIVILEGE_SET privileges{};
    DWORD privilegesSize = sizeof privileges;
    DWORD granted = 0;
    BOOL allowed = FALSE;
    if (!::AccessCheck(descriptor.data(), impersonation.get(), access, &mapping, &privileges,
                       &privilegesSize, &granted, &allowed)) {
        return std::nullopt;
    }
    return allowed != FALSE;
}

} // namespace win

namespace {

constexpr DWORD kShareForReading = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

} // namespace

namespace win {

std::optional<FileIdentity> IdentityOfHandle(HANDLE handle) {
    BY_HANDLE_FILE_INFORMATION info;
    if (!::GetFileInformationByHandle(handle, &info)) {
        return std::nullopt;
    }
    FileIdentity id;
    // The 128-bit file id where the file system gives one (Windows 8 and later): ReFS's 64-bit
    // file index is not unique. NTFS gives the 64-bit index in its lower half.
    FILE_ID_INFO ids{};
    if (::GetFileInformationByHandleEx(handle, FileIdInfo, &ids, sizeof ids)) {
        static_assert(sizeof ids.FileId.Identifier == 2 * sizeof(std::uint64_t));
        id.device = ids.VolumeSerialNumber;
        std::memcpy(&id.inode, ids.FileId.Identifier, sizeof id.inode);
        std::memcpy(&id.inodeHigh, ids.FileId.Identifier + sizeof id.inode, sizeof id.inodeHigh);
    } else {
        id.device = info.dwVolumeSerialNumber;
        id.inode = static_cast<std::uint64_t>(Combine(info.nFileIndexHigh, info.nFileIndexLow));
    }
    id.size = Combine(info.nFileSizeHigh, info.nFileSizeLow);
    // 100-nanosecond units.
    id.modifiedNs =
        Combine(info.ftLastWriteTime.dwHighDateTime, info.ftLastWriteTime.dwLowDateTime) * 100;
    return id;
}

bool Holds(HANDLE handle, const Sha256Digest& digest) {
    static thread_local std::string buffer(1 << 16, '\0');
    Sha256 hash;
    for (;;) {
        DWORD got = 0;
        if (!::ReadFile(handle, buffer.data(), static_cast<DWORD>(buffer.size()), &got, nullptr)) {
            return false;
        }
        if (got == 0) {
            return hash.finish() == digest;
        }
        hash.update(std::string_view(buffer.data(), got));
    }
}

DWORD CopyContents(HANDLE in, HANDLE out, std::string* kept) {
    static thread_local std::string buffer(1 << 16, '\0');
    for (;;) {
        DWORD got = 0;
        if (!::ReadFile(in, buffer.data(), static_cast<DWORD>(buffer.size()), &got, nullptr)) {
            return ::GetLastError();
        }
        if (got == 0) {
            return 0;
        }
        if (DWORD error = WriteAll(out, buffer.data(), got); error != 0) {
            return error;
        }
        if (kept != nullptr) {
            kept->append(buffer.data(), got);
        }
    }
}

bool DeletePending() {
    // STATUS_DELETE_PENDING, which Windows reports as ERROR_ACCESS_DENIED.
    constexpr LONG kDeletePending = static_cast<LONG>(0xC0000056);
    using LastStatus = LONG(NTAPI*)();
    static const auto lastStatus = reinterpret_cast<LastStatus>(reinterpret_cast<void*>(
        ::GetProcAddress(::GetModuleHandleW(L"ntdll.dll"), "RtlGetLastNtStatus")));
    return lastStatus != nullptr && lastStatus() == kDeletePending;
}

Status WriteFailure(DWORD error, const std::wstring& folder, RefusalFacts facts) {
    if (error == ERROR_ACCESS_DENIED) {
        facts.folderAllows = AccessListAllows(folder, FILE_ADD_FILE);
        facts.networkShare = folder.rfind(L"\\\\?\\UNC\\", 0) == 0 ||
                             (folder.size() >= 7 && folder[5] == L':' &&
                              ::GetDriveTypeW(folder.substr(4, 3).c_str()) == DRIVE_REMOTE);
    }
    return Status::Fail(win::WriteRefusal(error, facts));
}

Status WriteFailure(DWORD error, const std::wstring& folder) {
    RefusalFacts facts;
    facts.deletePending = error == ERROR_ACCESS_DENIED && DeletePending();
    return WriteFailure(error, folder, facts);
}

HANDLE OpenExisting(const std::string& path, DWORD access, DWORD share, DWORD flags) {
    const std::wstring name = win::FilePath(path);
    HANDLE handle = INVALID_HANDLE_VALUE;
    bool folder = false;
    const DWORD error = Retrying([&] {
        handle = ::CreateFileW(name.c_str(), access, share, nullptr, OPEN_EXISTING, flags, nullptr);
        if (handle != INVALID_HANDLE_VALUE) {
            return DWORD{0};
        }
        const DWORD failed = ::GetLastError();
        // A folder refuses this open for good: no use waiting.
        const DWORD attributes = ::GetFileAttributesW(name.c_str());
        folder = failed == ERROR_ACCESS_DENIED && attributes != INVALID_FILE_ATTRIBUTES &&
                 (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
        return folder ? ERROR_DIRECTORY : failed;
    });
    ::SetLastError(folder ? ERROR_ACCESS_DENIED : error);
    return handle;
}

Phrase WriteRefusal(unsigned long error, const RefusalFacts& facts) {
    if (InUse(error)) {
        return kInUse;
    }
    if (error != ERROR_ACCESS_DENIED) {
        return ErrorPhrase(error);
    }
    if (facts.deletePending) {
        return N_("Windows refused to write there (a file of that name is still being deleted: "
                  "try again shortly)");
    }
    if (facts.saveForbidsDelete) {
        return N_("Windows refused to write there (the save's permissions forbid replacing it)");
    }
    if (!facts.folderAllows) {
        return ErrorPhrase(error); // the folder's access list itself
    }
    return facts.networkShare
               ? N_("Windows refused to write there (likely a share you may only read, or "
                    "ransomware protection such as Controlled folder access, which must allow "
                    "ostrapel.exe)")
               : N_("Windows refused to write there (likely ransomware protection such as "
                    "Controlled folder access, which must allow ostrapel.exe)");
}

} // namespace win

bool IsHiddenName(const std::string& name) {
    return IsTemporaryName(name);
}

ListingResult ListDirectory(const std::string& folder) {
    ListingResult result;
    WIN32_FIND_DATAW data;
    const std::wstring pattern = win::FilePath(JoinPath(folder, "*"));
    HANDLE find = ::FindFirstFileExW(pattern.c_str(), FindExInfoBasic, &data, FindExSearchNameMatch,
                                     nullptr, FIND_FIRST_EX_LARGE_FETCH);
    if (find == INVALID_HANDLE_VALUE) {
        const DWORD error = ::GetLastError();
        if (error != ERROR_FILE_NOT_FOUND) { // an empty folder (without even "." at a root)
            result.status = win::ErrorStatus(error);
        }
        return result;
    }
    do {
        std::string name = win::Utf8(data.cFileName);
        if (name == "." || name == "..") {
            continue;
        }
        EntryKind kind = KindOfAttributes(data.dwFileAttributes);
        // A link's kind is what it leads to; a cloud file or the like is the entry itself.
        if ((data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 &&
            win::IsLinkTag(data.dwReserved0)) {
            kind = KindOf(JoinPath(folder, name));
        } else if ((data.dwFileAttributes & FILE_ATTRIBUTE_DEVICE) != 0) {
            kind = EntryKind::Other;
        }
        const bool hidden =
            (data.dwFileAttributes & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM)) != 0 ||
            IsHiddenName(name);
        result.entries.push_back({std::move(name), kind, hidden});
    } while (::FindNextFileW(find, &data));
    const DWORD error = ::GetLastError();
    if (error != ERROR_NO_MORE_FILES) {
        result.status = win::ErrorStatus(error);
    }
    ::FindClose(find);
    return result;
}

EntryKind KindOf(const std::string& path) {
    const DWORD attributes = AttributesOf(path);
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
        Handle target(OpenToLookAt(path)); // a dangling link opens nothing
        if (!target.valid()) {
            return EntryKind::Missing;
        }
        BY_HANDLE_FILE_INFORMATION info;
        if (!::GetFileInformationByHandle(target.get(), &info)) {
            return EntryKind::Missing;
        }
        return KindOfAttributes(info.dwFileAttributes);
    }
    return KindOfAttributes(attributes);
}

std::optional<std::int64_t> SizeOf(const std::string& path) {
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!::GetFileAttributesExW(win::FilePath(path).c_str(), GetFileExInfoStandard, &data)) {
        return std::nullopt;
    }
    return Combine(data.nFileSizeHigh, data.nFileSizeLow);
}

bool IsOnlineOnly(const std::string& path) {
    // The attributes a folder listing gives, the file listed by its own name: a cloud file's
    // FILE_ATTRIBUTE_RECALL_ON_OPEN shows only there, not through GetFileAttributesW. Listing
    // downloads nothing.
    WIN32_FIND_DATAW data;
    HANDLE find = ::FindFirstFileExW(win::FilePath(path).c_str(), FindExInfoBasic, &data,
                                     FindExSearchNameMatch, nullptr, 0);
    if (find == INVALID_HANDLE_VALUE) {
        return false;
    }
    ::FindClose(find);
    return win::IsOnlineOnlyAttributes(data.dwFileAttributes);
}

std::optional<FileIdentity> IdentityOf(const std::string& path) {
    Handle handle(OpenToLookAt(path));
    if (!handle.valid()) {
        return std::nullopt;
    }
    return IdentityOfHandle(handle.get());
}

std::optional<std::int64_t> ChangeTimeOf(const std::string& path) {
    Handle handle(OpenToLookAt(path));
    FILE_BASIC_INFO info{};
    if (!handle.valid() ||
        !::GetFileInformationByHandleEx(handle.get(), FileBasicInfo, &info, sizeof info)) {
        return std::nullopt;
    }
    return static_cast<std::int64_t>(info.ChangeTime.QuadPart) * 100; // 100-nanosecond units
}

std::optional<std::uint64_t> FreeSpaceOf(const std::string& folder) {
    ULARGE_INTEGER free{};
    if (!::GetDiskFreeSpaceExW(win::FilePath(folder).c_str(), &free, nullptr, nullptr)) {
        return std::nullopt;
    }
    return free.QuadPart;
}

Status WriteBytesAt(const std::string& path, std::int64_t offset, std::string_view bytes) {
    const std::wstring name = win::FilePath(path);
    Handle file;
    const DWORD opened = Retrying([&] {
        file.reset(::CreateFileW(name.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ,
                                 nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
        return file.valid() ? DWORD{0} : ::GetLastError();
    });
    if (opened != 0) {
        return WriteFailure(opened, FolderOf(path));
    }
    std::size_t done = 0;
    while (done < bytes.size()) {
        OVERLAPPED at{};
        const auto position = static_cast<std::uint64_t>(offset) + done;
        at.Offset = static_cast<DWORD>(position & 0xFFFFFFFFu);
        at.OffsetHigh = static_cast<DWORD>(position >> 32);
        DWORD put = 0;
        if (!::WriteFile(file.get(), bytes.data() + done, static_cast<DWORD>(bytes.size() - done),
                         &put, &at)) {
            return win::LastErrorStatus();
        }
        if (put == 0) {
            return win::ErrorStatus(ERROR_WRITE_FAULT);
        }
        done += put;
    }
    if (!::CloseHandle(file.release())) {
        return win::LastErrorStatus();
    }
    return Status::Ok();
}

Status ReadBytesAt(const std::string& path, std::int64_t offset, std::size_t size,
                   std::string& bytes) {
    bytes.assign(size, '\0');
    Handle file(OpenExisting(path, GENERIC_READ, kShareForReading, FILE_ATTRIBUTE_NORMAL));
    if (!file.valid()) {
        bytes.clear();
        return win::LastErrorStatus();
    }
    std::size_t done = 0;
    while (done < size) {
        OVERLAPPED at{};
        const auto position = static_cast<std::uint64_t>(offset) + done;
        at.Offset = static_cast<DWORD>(position & 0xFFFFFFFFu);
        at.OffsetHigh = static_cast<DWORD>(position >> 32);
        DWORD got = 0;
        if (!::ReadFile(file.get(), bytes.data() + done, static_cast<DWORD>(size - done), &got,
                        &at)) {
            if (::GetLastError() == ERROR_HANDLE_EOF) {
                break;
            }
            bytes.clear();
            return win::LastErrorStatus();
        }
        if (got == 0) {
            break;
        }
        done += got;
    }
    bytes.resize(done);
    return Status::Ok();
}

Status ReadWholeFile(const std::string& path, std::string& content) {
    content.clear();
    Handle in(OpenExisting(path, GENERIC_READ, kShareForReading, FILE_FLAG_SEQUENTIAL_SCAN));
    if (!in.valid()) {
        return win::LastErrorStatus();
    }
    if (::GetFileType(in.get()) != FILE_TYPE_DISK) {
        return Status::Fail("is not a regular file");
    }
    LARGE_INTEGER size{};
    if (::GetFileSizeEx(in.get(), &size)) {
        content.reserve(static_cast<std::size_t>(size.QuadPart));
    }
    char buffer[65536];
    for (;;) {
        DWORD got = 0;
        if (!::ReadFile(in.get(), buffer, sizeof buffer, &got, nullptr)) {
            return win::LastErrorStatus();
        }
        if (got == 0) {
            return Status::Ok();
        }
        content.append(buffer, got);
    }
}

bool IsReadOnly(const std::string& path) {
    const DWORD attributes = AttributesOf(path);
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY) != 0;
}

Status CopyFileTo(const std::string& source, const std::string& target,
                  const CopyOptions& options) {
    const DWORD attributes = AttributesOf(source);
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
        return Status::Fail("is a folder");
    }
    // Held without write sharing while it is copied: a writer that keeps the file open (with
    // delete sharing even) moves its last-write time only when it closes, so the identity
    // check below would not see a torn copy. A file another program holds open for writing
    // fails here with a sharing violation, once it has been tried for a while.
    Handle in(
        OpenExisting(source, GENERIC_READ, win::kShareWithoutWriters, FILE_FLAG_SEQUENTIAL_SCAN));
    if (!in.valid()) {
        return win::LastErrorStatus();
    }
    if (::GetFileType(in.get()) != FILE_TYPE_DISK) {
        return Status::Fail("is not a regular file");
    }
    const auto before = IdentityOfHandle(in.get());
    if (!before) {
        return win::LastErrorStatus();
    }
    // CREATE_NEW: never over an existing file, and never through a link at the target.
    Handle out(::CreateFileW(win::FilePath(target).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                             FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    if (!out.valid()) {
        return WriteFailure(::GetLastError(), FolderOf(target));
    }
    if (options.content != nullptr) {
        options.content->clear();
        options.content->reserve(static_cast<std::size_t>(before->size));
    }
    if (DWORD error = CopyContents(in.get(), out.get(), options.content); error != 0) {
        out.reset();
        ::DeleteFileW(win::FilePath(target).c_str());
        return win::ErrorStatus(error);
    }
    // A write racing the copy would leave a torn copy behind.
    if (IdentityOfHandle(in.get()) != before) {
        return Status::Fail("changed while being copied");
    }
    if (options.flush && !::FlushFileBuffers(out.get())) {
        return win::LastErrorStatus();
    }
    if (!::CloseHandle(out.release())) {
        return win::LastErrorStatus();
    }
    if (options.sourceIdentity != nullptr) {
        *options.sourceIdentity = *before;
    }
    return Status::Ok();
}

Status WriteNewFile(const std::string& path, std::string_view content) {
    // CREATE_NEW: never over an existing file, and never through a link at the path.
    Handle out(::CreateFileW(win::FilePath(path).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                             FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    if (!out.valid()) {
        return WriteFailure(::GetLastError(), FolderOf(path));
    }
    DWORD error = WriteAll(out.get(), content.data(), content.size());
    if (error == 0 && !::CloseHandle(out.release())) {
        error = ::GetLastError();
    }
    if (error != 0) {
        out.reset();
        ::DeleteFileW(win::FilePath(path).c_str());
        return win::ErrorStatus(error);
    }
    return Status::Ok();
}

Status OverwriteFile(const std::string& path, std::string_view content) {
    const std::wstring name = win::FilePath(path);
    Handle out;
    const DWORD opened = Retrying([&] {
        out.reset(::CreateFileW(name.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                TRUNCATE_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
        return out.valid() ? DWORD{0} : ::GetLastError();
    });
    if (opened != 0) {
        return WriteFailure(opened, FolderOf(path));
    }
    DWORD error = WriteAll(out.get(), content.data(), content.size());
    if (error == 0 && !::CloseHandle(out.release())) {
        error = ::GetLastError();
    }
    return error != 0 ? win::ErrorStatus(error) : Status::Ok();
}

Status RemoveFile(const std::string& path) {
    if (!::DeleteFileW(win::FilePath(path).c_str())) {
        const DWORD error = ::GetLastError();
        if (error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND) {
            return win::ErrorStatus(error);
        }
    }
    return Status::Ok();
}

Status MakeDirectory(const std::string& path) {
    if (!::CreateDirectoryW(win::FilePath(path).c_str(), nullptr)) {
        const DWORD error = ::GetLastError();
        if (error == ERROR_ALREADY_EXISTS && KindOf(path) == EntryKind::Directory) {
            return Status::Ok();
        }
        return win::ErrorStatus(error);
    }
    return Status::Ok();
}

Status RemoveEmptyDirectory(const std::string& path) {
    if (!::RemoveDirectoryW(win::FilePath(path).c_str())) {
        const DWORD error = ::GetLastError();
        if (error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND) {
            return win::ErrorStatus(error);
        }
    }
    return Status::Ok();
}

} // namespace ostrapel
