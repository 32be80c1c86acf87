#include "WindowsText.h"

#include <algorithm>
#include <cstdint>
#include <vector>
#include <windows.h>

namespace ostrapel::win {

std::wstring Wide(std::string_view utf8) {
    if (utf8.empty()) {
        return {};
    }
    const int size = static_cast<int>(utf8.size());
    const int length = ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), size, nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(length), L'\0');
    ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), size, wide.data(), length);
    return wide;
}

std::string Utf8(std::wstring_view wide) {
    if (wide.empty()) {
        return {};
    }
    const int size = static_cast<int>(wide.size());
    const int length =
        ::WideCharToMultiByte(CP_UTF8, 0, wide.data(), size, nullptr, 0, nullptr, nullptr);
    std::string utf8(static_cast<std::size_t>(length), '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, wide.data(), size, utf8.data(), length, nullptr, nullptr);
    return utf8;
}

namespace {

std::wstring FullPathOf(const std::wstring& path) {
    const DWORD needed = ::GetFullPathNameW(path.c_str(), 0, nullptr, nullptr);
    if (needed == 0) {
        return {};
    }
    std::wstring full(needed, L'\0');
    const DWORD length = ::GetFullPathNameW(path.c_str(), needed, full.data(), nullptr);
    if (length == 0 || length >= needed) {
        return {};
    }
    full.resize(length);
    return full;
}

} // namespace

std::wstring FilePath(const std::string& utf8) {
    std::wstring path = Wide(utf8);
    if (path.empty() || path.rfind(L"\\\\?\\", 0) == 0 || path.rfind(L"\\\\.\\", 0) == 0) {
        return path;
    }
    std::replace(path.begin(), path.end(), L'/', L'\\');
    // The root stays as it is; GetFullPathNameW would also strip a trailing dot or space from
    // every name, so only a relative path's base comes from it.
    std::wstring root;
    std::size_t rest = 0;
    if (path.size() >= 3 && path[1] == L':' && path[2] == L'\\') {
        root = path.substr(0, 3);
        rest = 3;
    } else if (path.rfind(L"\\\\", 0) == 0) {
        const std::size_t server = path.find(L'\\', 2);
        if (server == std::wstring::npos) {
            return path;
        }
        const std::size_t share = path.find(L'\\', server + 1);
        root = L"UNC\\" + path.substr(2, share == std::wstring::npos ? share : share - 2) + L"\\";
        rest = share == std::wstring::npos ? path.size() : share + 1;
    } else {
        // Relative to the current folder, to the current folder of a drive ("D:name"), or to the
        // current drive's root ("\\name").
        const bool drive = path.size() >= 2 && path[1] == L':';
        const bool fromRoot = !drive && path[0] == L'\\';
        std::wstring base = FullPathOf(drive ? path.substr(0, 2) : fromRoot ? L"\\" : L".");
        if (base.rfind(L"\\\\?\\", 0) == 0 && base.size() > 6 && base[5] == L':') {
            base.erase(0, 4);
        }
        if (base.empty() || base.rfind(L"\\\\?\\", 0) == 0) {
            return path;
        }
        return FilePath(Utf8(base + L"\\" + path.substr(drive ? 2 : fromRoot ? 1 : 0)));
    }
    // "." and ".." are resolved by hand: the \\?\ form takes every name literally.
    std::vector<std::wstring> names;
    for (std::size_t at = rest; at <= path.size();) {
        std::size_t end = path.find(L'\\', at);
        if (end == std::wstring::npos) {
            end = path.size();
        }
        const std::wstring name = path.substr(at, end - at);
        if (name == L"..") {
            if (!names.empty()) {
                names.pop_back();
            }
        } else if (!name.empty() && name != L".") {
            names.push_back(name);
        }
        at = end + 1;
    }
    std::wstring extended = L"\\\\?\\" + root;
    for (std::size_t i = 0; i < names.size(); ++i) {
        extended += (i == 0 ? L"" : L"\\") + names[i];
    }
    return extended;
}

namespace {

std::string SystemMessage(unsigned long code, unsigned long language) {
    wchar_t* text = nullptr;
    const DWORD length = ::FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, code, language, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
    std::string message;
    if (length > 0 && text != nullptr) {
        message = Utf8(std::wstring_view(text, length));
    }
    if (text != nullptr) {
        ::LocalFree(text);
    }
    return message;
}

} // namespace

Phrase ErrorPhraseWith(unsigned long code, MessageLookup lookup) {
    switch (code) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_DRIVE:
        return N_("No such file or directory");
    case ERROR_ACCESS_DENIED:
        return N_("Permission denied");
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
        return kInUse;
    case ERROR_FILE_EXISTS:
    case ERROR_ALREADY_EXISTS:
        return N_("File exists");
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
        return N_("No space left on device");
    case ERROR_WRITE_PROTECT:
        return N_("Read-only file system");
    case ERROR_BAD_EXE_FORMAT:
        return N_("Exec format error");
    default:
        break;
    }
    std::string message = lookup(code, MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US));
    if (message.empty()) {
        message = lookup(code, 0);
    }
    while (!message.empty() && (message.back() == '\n' || message.back() == '\r' ||
                                message.back() == '.' || message.back() == ' ')) {
        message.pop_back();
    }
    // The system's own words, in its language, are shown as they are.
    return message.empty() ? Phrase(N_("Windows error {code}")).With("code", std::to_string(code))
                           : Phrase::Verbatim(std::move(message));
}

Phrase ErrorPhrase(unsigned long code) {
    return ErrorPhraseWith(code, SystemMessage);
}

namespace {

bool IsContinuationByte(char c) {
    return (static_cast<unsigned char>(c) & 0xC0) == 0x80;
}

bool IsUtf8(std::string_view bytes) {
    return bytes.empty() || ::MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, bytes.data(),
                                                  static_cast<int>(bytes.size()), nullptr, 0) > 0;
}

} // namespace

std::string ToolOutputText(std::string_view bytes, bool cut, bool consoleCodePage,
                           unsigned oemCodePage, unsigned ansiCodePage) {
    std::string_view whole = bytes;
    // A UTF-8 character is at most four bytes: at most three of it can be left at the start.
    for (int i = 0; cut && i < 3 && !whole.empty() && IsContinuationByte(whole.front()); ++i) {
        whole.remove_prefix(1);
    }
    if (IsUtf8(whole)) {
        return std::string(whole);
    }
    const unsigned codePage = consoleCodePage ? oemCodePage : ansiCodePage;
    const int size = static_cast<int>(bytes.size());
    const int length = ::MultiByteToWideChar(codePage, 0, bytes.data(), size, nullptr, 0);
    if (length <= 0) {
        return std::string(bytes);
    }
    std::wstring wide(static_cast<std::size_t>(length), L'\0');
    ::MultiByteToWideChar(codePage, 0, bytes.data(), size, wide.data(), length);
    return Utf8(wide);
}

namespace {

// A PE image's header fields as far as head reaches.
class PeHeader {
public:
    explicit PeHeader(std::string_view head) : head_(head) {
        if (head.size() < 0x40 || head.substr(0, 2) != "MZ") {
            return;
        }
        const std::size_t pe = number(0x3C, 4);
        if (pe <= head.size() && head.size() - pe >= 4 &&
            head.substr(pe, 4) == std::string_view("PE\0\0", 4)) {
            optional_ = pe + 4 + 20; // after the signature and the file header
        }
    }
    bool valid() const { return optional_ != 0; }
    // Subsystem, or 0 where head does not reach it.
    std::uint32_t subsystem() const { return at(68, 2); }
    // Whether the image carries a CLR runtime header (data directory 14): a .NET program.
    bool managed() const {
        constexpr std::uint32_t kClrDirectory = 14;
        // The directories follow the count, which sits at 92 (PE32) or 108 (PE32+).
        const std::size_t count = at(0, 2) == 0x20B ? 108 : 92;
        return at(count, 4) > kClrDirectory && at(count + 4 + 8 * kClrDirectory, 4) != 0;
    }

private:
    std::uint32_t number(std::size_t offset, std::size_t size) const {
        std::uint32_t value = 0;
        for (std::size_t i = 0; i < size; ++i) {
            value |= static_cast<std::uint32_t>(static_cast<unsigned char>(head_[offset + i]))
                     << (8 * i);
        }
        return value;
    }
    std::uint32_t at(std::size_t offset, std::size_t size) const {
        return valid() && head_.size() - optional_ >= offset + size
                   ? number(optional_ + offset, size)
                   : 0;
    }

    std::string_view head_;
    std::size_t optional_ = 0;
};

} // namespace

bool WritesConsoleCodePage(std::string_view head) {
    const PeHeader header(head);
    return !header.valid() ||
           (header.managed() && header.subsystem() == IMAGE_SUBSYSTEM_WINDOWS_CUI);
}

Status ErrorStatus(unsigned long code) {
    return Status::Fail(ErrorPhrase(code));
}

Status LastErrorStatus() {
    return ErrorStatus(::GetLastError());
}

} // namespace ostrapel::win
