#pragma once

#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <windows.h>

namespace mdlSHBrowseForFolder {

// Asks the user for a folder. Yields its full path (UTF-8), or nothing when the user cancels.
class FolderChooser {
public:
    virtual ~FolderChooser() = default;
    virtual std::optional<std::string> ChooseFolder(HWND owner, const std::wstring& title) = 0;
};

// The shell's folder chooser (the file dialog picking folders: a path field, the places), or,
// where the system has none, the older folder browser: modal to its owner, starting at
// StartFolder, only file-system folders can be confirmed. title: the instruction, shown as the
// chooser's title.
class ShellFolderChooser final : public FolderChooser {
public:
    std::optional<std::string> ChooseFolder(HWND owner, const std::wstring& title) override;
};

// Always yields the same folder, asking no one: for runs without a user.
class FixedFolderChooser final : public FolderChooser {
public:
    explicit FixedFolderChooser(std::optional<std::string> folder) : folder_(std::move(folder)) {}
    std::optional<std::string> ChooseFolder(HWND, const std::wstring&) override { return folder_; }

private:
    std::optional<std::string> folder_;
};

// The browser's instruction text.
inline const wchar_t* const kTitle = L"C:\\";

// Lets the user choose a folder and stores its path in SelectedFolder: full, without a
// trailing backslash except at a drive root; empty after a cancel or without a file-system path.
void BrowseForFolder(HWND owner, FolderChooser& chooser);

// The folder last chosen with BrowseForFolder; empty before the first choice and after a cancel.
const std::string& SelectedFolder();

// Where the chooser starts: the last folder chosen or selected, kept over a cancel; empty at
// first.
const std::string& StartFolder();

// Makes folder (normalised as the browser's answer is) the selected folder, as if it had been
// chosen in the browser: a folder dropped on the window.
void SelectFolder(std::string folder);

} // namespace mdlSHBrowseForFolder
