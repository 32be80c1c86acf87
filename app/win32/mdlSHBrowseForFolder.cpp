#include "mdlSHBrowseForFolder.h"

#include <shlobj.h>

namespace mdlSHBrowseForFolder {

namespace {

std::string& Selected() {
    static std::string selected;
    return selected;
}

std::string Utf8(const std::wstring& wide) {
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

// Without trailing backslashes, a drive root keeping its one; a relative path gives empty.
std::string Normalised(std::string path) {
    const bool drive = path.size() >= 3 && path[1] == ':' && (path[2] == '\\' || path[2] == '/');
    const bool unc = path.rfind("\\\\", 0) == 0;
    if (!drive && !unc) {
        return {};
    }
    while (path.size() > 3 && (path.back() == '\\' || path.back() == '/')) {
        path.pop_back();
    }
    return path;
}

} // namespace

std::optional<std::string> ShellFolderChooser::ChooseFolder(HWND owner, const std::wstring& title) {
    BROWSEINFOW request{};
    request.hwndOwner = owner;
    request.pidlRoot = nullptr;
    request.pszDisplayName = nullptr;
    request.lpszTitle = title.c_str();
    request.ulFlags = BIF_RETURNONLYFSDIRS;
    PIDLIST_ABSOLUTE chosen = ::SHBrowseForFolderW(&request);
    if (chosen == nullptr) {
        return std::nullopt;
    }
    // A long path does not fit MAX_PATH: the extended call takes a larger buffer.
    std::wstring path(32768, L'\0');
    const bool got = ::SHGetPathFromIDListEx(chosen, path.data(), static_cast<DWORD>(path.size()),
                                             GPFIDL_DEFAULT) ||
                     ::SHGetPathFromIDListW(chosen, path.data());
    ::CoTaskMemFree(chosen);
    if (!got) {
        return std::string();
    }
    path.resize(path.find(L'\0'));
    return Utf8(path);
}

void BrowseForFolder(HWND owner, FolderChooser& chooser) {
    std::optional<std::string> chosen = chooser.ChooseFolder(owner, kTitle);
    Selected() = chosen ? Normalised(std::move(*chosen)) : std::string();
}

const std::string& SelectedFolder() {
    return Selected();
}

} // namespace mdlSHBrowseForFolder
