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

std::string& Start() {
    static std::string start;
    return start;
}

void Select(std::string folder) {
    Selected() = std::move(folder);
    if (!Selected().empty()) {
        Start() = Selected();
    }
}

// The file dialog picking folders; nothing when the system has none (S_FALSE: cancelled).
HRESULT ChooseWithFileDialog(HWND owner, const std::wstring& title, std::wstring& path) {
    IFileOpenDialog* dialog = nullptr;
    HRESULT result = ::CoCreateInstance(CLSID_FileOpenDialog, nullptr, CLSCTX_INPROC_SERVER,
                                        IID_PPV_ARGS(&dialog));
    if (FAILED(result)) {
        return result;
    }
    FILEOPENDIALOGOPTIONS options = 0;
    dialog->GetOptions(&options);
    dialog->SetOptions(options | FOS_PICKFOLDERS | FOS_FORCEFILESYSTEM | FOS_PATHMUSTEXIST);
    dialog->SetTitle(title.c_str());
    if (!Start().empty()) {
        IShellItem* start = nullptr;
        if (SUCCEEDED(::SHCreateItemFromParsingName(ostrapel::win::Wide(Start()).c_str(), nullptr,
                                                    IID_PPV_ARGS(&start)))) {
            dialog->SetFolder(start);
            start->Release();
        }
    }
    result = dialog->Show(owner);
    IShellItem* chosen = nullptr;
    if (SUCCEEDED(result) && SUCCEEDED(result = dialog->GetResult(&chosen))) {
        PWSTR name = nullptr;
        if (SUCCEEDED(chosen->GetDisplayName(SIGDN_FILESYSPATH, &name))) {
            path = name;
            ::CoTaskMemFree(name);
        }
        chosen->Release();
    } else if (result == HRESULT_FROM_WIN32(ERROR_CANCELLED)) {
        result = S_FALSE;
    }
    dialog->Release();
    return result;
}

int CALLBACK BrowserStarted(HWND browser, UINT message, LPARAM, LPARAM start) {
    if (message == BFFM_INITIALIZED && start != 0) {
        ::SendMessageW(browser, BFFM_SETSELECTIONW, TRUE, start);
    }
    return 0;
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
    std::wstring chosenPath;
    const HRESULT asked = ChooseWithFileDialog(owner, title, chosenPath);
    if (asked == S_FALSE) {
        return std::nullopt;
    }
    if (SUCCEEDED(asked)) {
        return Utf8(chosenPath); // empty without a file-system path
    }
    const std::wstring start = ostrapel::win::Wide(Start());
    BROWSEINFOW request{};
    request.lpfn = &BrowserStarted;
    request.lParam = start.empty() ? 0 : reinterpret_cast<LPARAM>(start.c_str());
    request.hwndOwner = owner;
    request.pidlRoot = nullptr;
    request.pszDisplayName = nullptr;
    request.lpszTitle = title.c_str();
    request.ulFlags = BIF_RETURNONLYFSDIRS | BIF_NEWDIALOGSTYLE | BIF_EDITBOX;
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
    Select(chosen ? Normalised(std::move(*chosen)) : std::string());
}

const std::string& SelectedFolder() {
    return Selected();
}

const std::string& StartFolder() {
    return Start();
}

void SelectFolder(std::string folder) {
    Select(Normalised(std::move(folder)));
}

} // namespace mdlSHBrowseForFolder
