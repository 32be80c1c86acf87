#include "mdlSHBrowseForFolder.h"

#include "system/windows/WindowsText.h"

#include <shlobj.h>

namespace mdlSHBrowseForFolder {

namespace {

using ostrapel::win::Utf8;

std::string& Selected() {
    static std::string selected;
    return selected;
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

void SelectFolder(std::string folder) {
    Selected() = Normalised(std::move(folder));
}

} // namespace mdlSHBrowseForFolder
