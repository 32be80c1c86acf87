#include "ReplaceRules.h"
#include "WindowsText.h"
#include "system/FileSystem.h"
#include "system/Paths.h"

#include <aclapi.h>
#include <algorithm>
#include <cstring>
#include <windows.h>
#undef SetCurrentDirectory // the wide macro would rename this program's own function

namespace ostrapel {

namespace {

class Handle {
public:
    explicit Handle(HANDLE handle = INVALID_HANDLE_VALUE) : handle_(handle) {}
    ~Handle() { reset(); }
    Handle(const Handle&) = delete;
    Handle& operator=(const Handle&) = delete;
    HANDLE get() const { return handle_; }
    bool valid() const { return handle_ != INVALID_HANDLE_VALUE && handle_ != nullptr; }
    void reset(HANDLE handle = INVALID_HANDLE_VALUE) {
        if (valid()) {
            ::CloseHandle(handle_);
        }
        handle_ = handle;
    }
    HANDLE release() {
        HANDLE handle = handle_;
        handle_ = INVALID_HANDLE_VALUE;
        return handle;
    }

private:
    HANDLE handle_;
};

// Any sharing: the program's own opens never stand in another program's way.
constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

DWORD AttributesOf(const std::string& path) {
    return ::GetFileAttributesW(win::FilePath(path).c_str());
}

// Opens an entry only to look at it; folders too, following links.
HANDLE OpenToLookAt(const std::string& path) {
    return ::CreateFileW(win::FilePath(path).c_str(), FILE_READ_ATTRIBUTES, kShareAll, nullptr,
                         OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
}

std::int64_t Combine(DWORD high, DWORD low) {
    return static_cast<std::int64_t>((static_cast<std::uint64_t>(high) << 32) | low);
}

std::optional<FileIdentity> IdentityOfHandle(HANDLE handle) {
    BY_HANDLE_FILE_INFORMATION info;
    if (!::GetFileInformationByHandle(handle, &info)) {
        return std::nullopt;
    }
    FileIdentity id;
    id.device = info.dwVolumeSerialNumber;
    id.inode = static_cast<std::uint64_t>(Combine(info.nFileIndexHigh, info.nFileIndexLow));
    id.size = Combine(info.nFileSizeHigh, info.nFileSizeLow);
    // 100-nanosecond units.
    id.modifiedNs =
        Combine(info.ftLastWriteTime.dwHighDateTime, info.ftLastWriteTime.dwLowDateTime) * 100;
    return id;
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

// Copies everything from in to out, appending it to kept when given; returns 0 or the error
// code.
DWORD CopyContents(HANDLE in, HANDLE out, std::string* kept = nullptr) {
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

bool InUse(DWORD error) {
    return error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION ||
           error == ERROR_USER_MAPPED_FILE;
}

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

// Whether the access list of path grants this process access (whatever a filter such as
// Controlled folder access then decides).
bool AccessListAllows(const std::wstring& path, DWORD access) {
    const SECURITY_INFORMATION what =
        OWNER_SECURITY_INFORMATION | GROUP_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION;
    DWORD needed = 0;
    (void)::GetFileSecurityW(path.c_str(), what, nullptr, 0, &needed);
    if (needed == 0) {
        return false;
    }
    std::vector<unsigned char> descriptor(needed);
    HANDLE token = nullptr;
    if (!::GetFileSecurityW(path.c_str(), what, descriptor.data(), needed, &needed) ||
        !::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY | TOKEN_DUPLICATE, &token)) {
        return false;
    }
    Handle process(token);
    HANDLE copy = nullptr;
    if (!::DuplicateToken(process.get(), SecurityImpersonation, &copy)) {
        return false;
    }
    Handle impersonation(copy);
    GENERIC_MAPPING mapping{FILE_GENERIC_READ, FILE_GENERIC_WRITE, FILE_GENERIC_EXECUTE,
                            FILE_ALL_ACCESS};
    PRIVILEGE_SET privileges{};
    DWORD privilegesSize = sizeof privileges;
    DWORD granted = 0;
    BOOL allowed = FALSE;
    return ::AccessCheck(descriptor.data(), impersonation.get(), access, &mapping, &privileges,
                         &privilegesSize, &granted, &allowed) &&
           allowed;
}

// Why a write in folder failed with error, in words a player can act on.
Status WriteFailure(DWORD error, const std::wstring& folder) {
    return Status::Fail(win::WriteRefusalText(error, error == ERROR_ACCESS_DENIED &&
                                                         AccessListAllows(folder, FILE_ADD_FILE)));
}

// Why the rename over target failed: refused on access where another program holds the target
// open (the classic rename cannot replace an open file) is "in use" too.
Status RenameFailure(DWORD error, const std::wstring& target, const std::wstring& folder) {
    if (error == ERROR_ACCESS_DENIED) {
        Handle probe(::CreateFileW(target.c_str(), DELETE, kShareAll, nullptr, OPEN_EXISTING,
                                   FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT,
                                   nullptr));
        if (!probe.valid() && InUse(::GetLastError())) {
            error = ERROR_SHARING_VIOLATION;
        }
    }
    return WriteFailure(error, folder);
}

std::wstring FolderOf(const std::string& path) {
    return win::FilePath(ParentOf(path));
}

// Tries an operation again while another program holds the file for a moment (a virus scanner,
// the search indexer, a sync client): pauses of 10 ms doubling up to 250 ms, about 2 s in all.
// attempt returns 0 or an error code.
template <class Attempt> DWORD Retrying(Attempt attempt) {
    DWORD waited = 0;
    DWORD pause = 10;
    for (;;) {
        const DWORD error = attempt();
        if (error == 0 || !(InUse(error) || error == ERROR_ACCESS_DENIED) ||
            waited >= win::kInUsePatienceMs) {
            return error;
        }
        ::Sleep(pause);
        waited += pause;
        pause = std::min<DWORD>(pause * 2, 250);
    }
}

// Opens an existing file, tried again while it is in use. Readers share deleting too, so they
// never keep a program from replacing or removing the file.
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

constexpr DWORD kShareForReading = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

// FILE_RENAME_INFO with its Flags member (Windows 10 1607 and later); the same layout.
struct RenameInformation {
    DWORD flags;
    HANDLE rootDirectory;
    DWORD fileNameLength;
    WCHAR fileName[1];
};
constexpr auto kFileRenameInfoEx = static_cast<FILE_INFO_BY_HANDLE_CLASS>(22);
constexpr DWORD kRenameReplaceIfExists = 0x1;
constexpr DWORD kRenamePosixSemantics = 0x2;

} // namespace

namespace win {

RenameWay RenameWayAfter(RenameWay tried, unsigned long error) {
    if (tried != RenameWay::PosixSemantics) {
        return RenameWay::None;
    }
    // Systems before Windows 10 1709 do not know the class, file systems without POSIX
    // semantics (FAT, some network shares) refuse it: the classic rename instead.
    switch (error) {
    case ERROR_INVALID_PARAMETER:
    case ERROR_NOT_SUPPORTED:
    case ERROR_INVALID_FUNCTION:
    case ERROR_CALL_NOT_IMPLEMENTED:
        return RenameWay::Classic;
    default:
        return RenameWay::None;
    }
}

SecurityToKeep SecurityToKeepFor(unsigned short control, bool sameOwner) {
    SecurityToKeep keep;
    // Without a DACL present there is nothing to copy (a file system without ACLs).
    if ((control & SE_DACL_PRESENT) != 0) {
        // A protected DACL stays as it is; an inheriting one takes the folder's inherited entries
        // anew, beside its own.
        keep.dacl = DACL_SECURITY_INFORMATION |
                    ((control & SE_DACL_PROTECTED) != 0 ? PROTECTED_DACL_SECURITY_INFORMATION
                                                        : UNPROTECTED_DACL_SECURITY_INFORMATION);
    }
    keep.owner = !sameOwner;
    return keep;
}

bool IsLinkTag(unsigned long tag) {
    return IsReparseTagNameSurrogate(tag);
}

ReplacementBasics ReplacementBasicsFor(unsigned long saveAttributes, long long saveCreationTime) {
    constexpr DWORD kRecallOnOpen = 0x00040000;
    constexpr DWORD kRecallOnDataAccess = 0x00400000;
    constexpr DWORD kNotCarriedOver = FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_COMPRESSED |
                                      FILE_ATTRIBUTE_ENCRYPTED | FILE_ATTRIBUTE_SPARSE_FILE |
                                      FILE_ATTRIBUTE_OFFLINE | kRecallOnOpen | kRecallOnDataAccess;
    ReplacementBasics basics;
    basics.attributes = saveAttributes & ~kNotCarriedOver;
    if (basics.attributes == 0) {
        basics.attributes = FILE_ATTRIBUTE_NORMAL;
    }
    basics.creationTime = saveCreationTime;
    return basics;
}

std::string WriteRefusalText(unsigned long error, bool accessListAllows) {
    if (InUse(error)) {
        return kInUse;
    }
    if (error == ERROR_ACCESS_DENIED && accessListAllows) {
        return kWriteRefused;
    }
    return ErrorText(error);
}

} // namespace win

namespace {

using win::RenameWay;

// Renames the file open as handle (with DELETE access) over target. POSIX semantics replace
// a target that others hold open with delete sharing, as scanners and indexers do; the classic
// rename cannot. Returns 0 or the error code.
DWORD RenameOver(HANDLE handle, const std::wstring& target) {
    const std::size_t bytes = target.size() * sizeof(WCHAR);
    std::vector<unsigned char> buffer(sizeof(RenameInformation) + bytes, 0);
    auto* info = reinterpret_cast<RenameInformation*>(buffer.data());
    info->fileNameLength = static_cast<DWORD>(bytes);
    std::memcpy(info->fileName, target.c_str(), bytes);
    for (RenameWay way = RenameWay::PosixSemantics; way != RenameWay::None;) {
        const bool posix = way == RenameWay::PosixSemantics;
        // Classic: the first byte is ReplaceIfExists, the rest of the member is ignored.
        info->flags = posix ? kRenameReplaceIfExists | kRenamePosixSemantics : TRUE;
        if (::SetFileInformationByHandle(handle, posix ? kFileRenameInfoEx : FileRenameInfo,
                                         buffer.data(), static_cast<DWORD>(buffer.size()))) {
            return 0;
        }
        const DWORD error = ::GetLastError();
        way = RenameWayAfter(way, error);
        if (way == RenameWay::None) {
            return error;
        }
    }
    return ERROR_INVALID_FUNCTION;
}

} // namespace

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

std::optional<FileIdentity> IdentityOf(const std::string& path) {
    Handle handle(OpenToLookAt(path));
    if (!handle.valid()) {
        return std::nullopt;
    }
    return IdentityOfHandle(handle.get());
}

namespace {

// The final path of an open file, in the \\?\ form: by drive letter, or by volume GUID on a
// volume without one. Empty when the system cannot tell.
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
    // A save the game holds open without sharing fails here with a sharing violation, once it
    // has been tried for a while.
    Handle in(OpenExisting(source, GENERIC_READ, kShareForReading, FILE_FLAG_SEQUENTIAL_SCAN));
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

namespace {

// A save's security descriptor, as the replacement is to keep it.
class SavedSecurity {
public:
    explicit SavedSecurity(HANDLE file) {
        // The integrity label (in the SACL) with the rest: a save a low-integrity game wrote stays
        // writable by it.
        read_ = ::GetSecurityInfo(file, SE_FILE_OBJECT,
                                  OWNER_SECURITY_INFORMATION | GROUP_SECURITY_INFORMATION |
                                      DACL_SECURITY_INFORMATION | LABEL_SECURITY_INFORMATION,
                                  &owner_, &group_, &dacl_, &label_, &descriptor_) == ERROR_SUCCESS;
        if (!read_) {
            label_ = nullptr;
            read_ =
                ::GetSecurityInfo(file, SE_FILE_OBJECT,
                                  OWNER_SECURITY_INFORMATION | GROUP_SECURITY_INFORMATION |
                                      DACL_SECURITY_INFORMATION,
                                  &owner_, &group_, &dacl_, nullptr, &descriptor_) == ERROR_SUCCESS;
        }
    }
    ~SavedSecurity() {
        if (descriptor_ != nullptr) {
            ::LocalFree(descriptor_);
        }
    }
    SavedSecurity(const SavedSecurity&) = delete;
    SavedSecurity& operator=(const SavedSecurity&) = delete;

    // Gives it to the new file, open as file at path: its DACL, its integrity label, and its owner
    // and group where this user may set them. Each is set by name, through a handle of its own
    // asking for what it needs, so the file's own handle asks for no WRITE_DAC; a refusal leaves
    // the new file's own (the folder's inherited) access list, as for the owner. Returns 0 or the
    // error code.
    DWORD giveTo(HANDLE file, const std::wstring& path) const {
        if (!read_) {
            return 0; // nothing readable to keep (a file system without security)
        }
        SECURITY_DESCRIPTOR_CONTROL control = 0;
        DWORD revision = 0;
        if (!::GetSecurityDescriptorControl(descriptor_, &control, &revision)) {
            return 0;
        }
        PSID owner = nullptr;
        PSID group = nullptr;
        PSECURITY_DESCRIPTOR current = nullptr;
        bool sameOwner = true;
        if (::GetSecurityInfo(file, SE_FILE_OBJECT,
                              OWNER_SECURITY_INFORMATION | GROUP_SECURITY_INFORMATION, &owner,
                              &group, nullptr, nullptr, &current) == ERROR_SUCCESS) {
            sameOwner = Same(owner, owner_) && Same(group, group_);
            ::LocalFree(current);
        }
        const win::SecurityToKeep keep = win::SecurityToKeepFor(control, sameOwner);
        std::wstring name = path;
        if (keep.dacl != 0) {
            const DWORD error = ::SetNamedSecurityInfoW(name.data(), SE_FILE_OBJECT, keep.dacl,
                                                        nullptr, nullptr, dacl_, nullptr);
            if (error != ERROR_SUCCESS && error != ERROR_NOT_SUPPORTED &&
                error != ERROR_INVALID_FUNCTION && error != ERROR_ACCESS_DENIED) {
                return error;
            }
        }
        if (label_ != nullptr && label_->AceCount > 0) {
            (void)::SetNamedSecurityInfoW(name.data(), SE_FILE_OBJECT, LABEL_SECURITY_INFORMATION,
                                          nullptr, nullptr, nullptr, label_);
        }
        if (keep.owner) {
            // Another owner takes a privilege most users lack; then the file stays theirs, as
            // with ReplaceFileW.
            (void)::SetNamedSecurityInfoW(name.data(), SE_FILE_OBJECT,
                                          OWNER_SECURITY_INFORMATION | GROUP_SECURITY_INFORMATION,
                                          owner_, group_, nullptr, nullptr);
        }
        return 0;
    }

private:
    static bool Same(PSID a, PSID b) {
        return a == nullptr || b == nullptr ? a == b : ::EqualSid(a, b) != FALSE;
    }

    PSECURITY_DESCRIPTOR descriptor_ = nullptr;
    PSID owner_ = nullptr;
    PSID group_ = nullptr;
    PACL dacl_ = nullptr;
    PACL label_ = nullptr;
    bool read_ = false;
};

} // namespace

ReplaceResult ReplaceFileAtomically(const std::string& source, const std::string& target,
                                    const std::optional<FileIdentity>& expected,
                                    const Sha256Digest* content) {
    auto fail = [](DWORD error) {
        return ReplaceResult{ReplaceOutcome::Failed, win::ErrorStatus(error)};
    };
    auto changed = [] {
        return ReplaceResult{ReplaceOutcome::TargetChanged, Status::Fail("changed on disk")};
    };

    DWORD attributes = AttributesOf(target);
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        const DWORD error = ::GetLastError();
        const bool gone = error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
        return gone && expected ? changed() : fail(error);
    }
    // The file the save is: a symbolic link is written through and stays a link. (Wine shows
    // a link as a plain file; its final path still leads to the target.)
    Handle save(OpenToLookAt(target));
    if (!save.valid()) {
        const DWORD error = ::GetLastError();
        const bool gone = error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
        return gone && expected ? changed() : fail(error);
    }
    // The final path counts only where it leads back to the same file: Wine names a file
    // whose name DOS could not hold ("abc.") by another name.
    std::wstring real = FinalPathOf(save.get(), VOLUME_NAME_DOS);
    if (real.empty()) {
        real = FinalPathOf(save.get(), VOLUME_NAME_GUID);
    }
    if (!real.empty()) {
        Handle there(::CreateFileW(real.c_str(), FILE_READ_ATTRIBUTES, kShareAll, nullptr,
                                   OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
        const auto mine = IdentityOfHandle(save.get());
        const auto theirs = there.valid() ? IdentityOfHandle(there.get()) : std::nullopt;
        if (!mine || !theirs || mine->device != theirs->device || mine->inode != theirs->inode) {
            real.clear();
        }
    }
    if (real.empty()) {
        if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
            return {ReplaceOutcome::Failed, Status::Fail("is a link whose target cannot be named")};
        }
        real = win::FilePath(target); // not a link: the save itself
    }
    attributes = ::GetFileAttributesW(real.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        return fail(::GetLastError());
    }
    if ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
        return {ReplaceOutcome::Failed, Status::Fail("is not a regular file")};
    }
    if (expected && IdentityOfHandle(save.get()) != *expected) {
        return changed();
    }
    if ((attributes & FILE_ATTRIBUTE_READONLY) != 0) {
        return {ReplaceOutcome::Failed, Status::Fail("is read-only")};
    }
    FILE_BASIC_INFO saveTimes{};
    if (!::GetFileInformationByHandleEx(save.get(), FileBasicInfo, &saveTimes, sizeof saveTimes)) {
        return fail(::GetLastError());
    }
    Handle saveSecurity(
        ::CreateFileW(real.c_str(), READ_CONTROL, kShareAll, nullptr, OPEN_EXISTING, 0, nullptr));
    SavedSecurity security(saveSecurity.get());
    saveSecurity.reset();
    save.reset();

    Handle in(OpenExisting(source, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE,
                           FILE_FLAG_SEQUENTIAL_SCAN));
    if (!in.valid()) {
        return fail(::GetLastError());
    }

    // Hidden while it is written, so a temporary left by a killed run stays out of listings.
    const std::wstring folder = real.substr(0, real.find_last_of(L'\\'));
    const std::wstring temporary = folder + L"\\" + win::Wide(NewTemporaryName());
    // Neither WRITE_OWNER nor WRITE_DAC: asking for what is not the creator's by right could
    // fail the create; the save's security is set afterwards.
    Handle out(::CreateFileW(temporary.c_str(), GENERIC_WRITE | DELETE | READ_CONTROL, 0, nullptr,
                             CREATE_NEW, FILE_ATTRIBUTE_HIDDEN, nullptr));
    if (!out.valid()) {
        return ReplaceResult{ReplaceOutcome::Failed, WriteFailure(::GetLastError(), folder)};
    }
    auto abandon = [&](DWORD error) {
        out.reset();
        ::DeleteFileW(temporary.c_str());
        return fail(error);
    };

    std::string copied;
    if (DWORD error = CopyContents(in.get(), out.get(), content != nullptr ? &copied : nullptr);
        error != 0) {
        return abandon(error);
    }
    if (content != nullptr && Sha256Of(copied) != *content) {
        out.reset();
        ::DeleteFileW(temporary.c_str());
        return {ReplaceOutcome::Failed, Status::Fail(kChangedAfterProof)};
    }
    // The replacement keeps the save's attributes (archive, hidden, system, ...), its creation
    // time and its security, as ReplaceFileW would.
    const win::ReplacementBasics basics =
        win::ReplacementBasicsFor(attributes, saveTimes.CreationTime.QuadPart);
    FILE_BASIC_INFO basic{};
    basic.FileAttributes = basics.attributes;
    basic.CreationTime.QuadPart = basics.creationTime;
    if (!::SetFileInformationByHandle(out.get(), FileBasicInfo, &basic, sizeof basic)) {
        return abandon(::GetLastError());
    }
    if (DWORD error = security.giveTo(out.get(), temporary); error != 0) {
        return abandon(error);
    }
    if (!::FlushFileBuffers(out.get())) {
        return abandon(::GetLastError());
    }
    // A look before every try of the rename: a game that held its save while the rename was
    // refused may have written it before letting go, and keeps what it wrote.
    bool changedMeanwhile = false;
    const DWORD error = Retrying([&] {
        if (expected) {
            Handle now(::CreateFileW(real.c_str(), FILE_READ_ATTRIBUTES, kShareAll, nullptr,
                                     OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
            if (!now.valid() || IdentityOfHandle(now.get()) != *expected) {
                changedMeanwhile = true;
                return DWORD{0};
            }
        }
        return RenameOver(out.get(), real);
    });
    if (changedMeanwhile || error != 0) {
        out.reset();
        ::DeleteFileW(temporary.c_str());
        return changedMeanwhile
                   ? changed()
                   : ReplaceResult{ReplaceOutcome::Failed, RenameFailure(error, real, folder)};
    }
    // The rename on disk with the file's metadata; the save is replaced either way.
    (void)::FlushFileBuffers(out.get());
    out.reset();
    return {ReplaceOutcome::Replaced, Status::Ok()};
}

Status SyncDirectory(const std::string& folder) {
    // Every rename was flushed through its file's handle already.
    (void)folder;
    return Status::Ok();
}

Status SyncFile(const std::string& path) {
    Handle file(::CreateFileW(win::FilePath(path).c_str(), GENERIC_WRITE, kShareAll, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.valid() || !::FlushFileBuffers(file.get())) {
        return win::LastErrorStatus();
    }
    return Status::Ok();
}

Status WriteFileAtomically(const std::string& path, std::string_view content) {
    const std::wstring temporary = win::FilePath(JoinPath(ParentOf(path), NewTemporaryName()));
    Handle out(::CreateFileW(temporary.c_str(), GENERIC_WRITE | DELETE, 0, nullptr, CREATE_NEW,
                             FILE_ATTRIBUTE_HIDDEN, nullptr));
    if (!out.valid()) {
        return WriteFailure(::GetLastError(), FolderOf(path));
    }
    DWORD error = 0;
    for (std::size_t at = 0; at < content.size() && error == 0;) {
        const DWORD piece =
            static_cast<DWORD>(std::min<std::size_t>(content.size() - at, 1u << 20));
        DWORD put = 0;
        if (!::WriteFile(out.get(), content.data() + at, piece, &put, nullptr) || put == 0) {
            error = put == 0 && ::GetLastError() == 0 ? ERROR_WRITE_FAULT : ::GetLastError();
        }
        at += put;
    }
    if (error == 0 && !::FlushFileBuffers(out.get())) {
        error = ::GetLastError();
    }
    if (error == 0) {
        // A reader holding the old file for a moment is waited for.
        const std::wstring target = win::FilePath(path);
        error = Retrying([&] { return RenameOver(out.get(), target); });
    }
    if (error != 0) {
        out.reset();
        ::DeleteFileW(temporary.c_str());
        return win::ErrorStatus(error);
    }
    (void)::FlushFileBuffers(out.get()); // the rename on disk; the file is in place either way
    return Status::Ok();
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
