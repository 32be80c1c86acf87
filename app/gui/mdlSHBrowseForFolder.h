#pragma once

#include <QString>
#include <memory>
#include <optional>
#include <string>
#include <utility>

class QWidget;

namespace mdlSHBrowseForFolder {

// Asks the user for a folder. Yields its full path, or nothing when the user cancels.
class FolderChooser {
public:
    virtual ~FolderChooser() = default;
    virtual std::optional<std::string> ChooseFolder(QWidget* owner, const QString& title) = 0;
    // Told of a folder chosen another way (dropped on the window), so the next choice can
    // start there.
    virtual void Remember(const std::string& folder) { (void)folder; }
};

// The platform's folder dialog: modal to its owner, confirming folders only, starting at the
// folder last chosen (remembered across runs in the user's settings) or else at home.
class DialogFolderChooser final : public FolderChooser {
public:
    // settingsFile: where the last folder is kept; empty for the user's settings location.
    explicit DialogFolderChooser(QString settingsFile = {});

    std::optional<std::string> ChooseFolder(QWidget* owner, const QString& title) override;
    void Remember(const std::string& folder) override;
    // Where the dialog opens: the folder last chosen while it still exists, else home.
    QString StartFolder() const;

private:
    QString settingsFile_;
};

// Always yields the same folder, asking no one: for runs without a user.
class FixedFolderChooser final : public FolderChooser {
public:
    explicit FixedFolderChooser(std::string folder) : folder_(std::move(folder)) {}
    std::optional<std::string> ChooseFolder(QWidget*, const QString&) override { return folder_; }

private:
    std::string folder_;
};

std::shared_ptr<FolderChooser> DefaultChooser();

// The dialog's title text.
inline const QString kTitle = QStringLiteral("C:\\");

// Lets the user choose a folder and stores its path in SelectedFolder: full, without a
// trailing separator except at the root; empty after a cancel or when nothing usable came back.
void BrowseForFolder(QWidget* owner, FolderChooser& chooser);

// The folder last chosen with BrowseForFolder; empty before the first choice and after a cancel.
const std::string& SelectedFolder();

// Makes folder (normalised as a dialog's answer is) the selected folder, as if it had been
// chosen in the dialog.
void SelectFolder(std::string folder);

// path without trailing separators, the root keeping its one; a relative path gives empty.
std::string NormalisedFolder(std::string path);

} // namespace mdlSHBrowseForFolder
