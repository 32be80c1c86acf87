#include "mdlSHBrowseForFolder.h"

#include "system/Paths.h"

#include <QDir>
#include <QFile>
#include <QFileDialog>

namespace mdlSHBrowseForFolder {

namespace {

std::string& Selected() {
    static std::string selected;
    return selected;
}

} // namespace

std::optional<std::string> DialogFolderChooser::ChooseFolder(QWidget* owner, const QString& title) {
    const QString folder = QFileDialog::getExistingDirectory(owner, title, QDir::rootPath(),
                                                             QFileDialog::ShowDirsOnly);
    if (folder.isEmpty()) {
        return std::nullopt;
    }
    const QByteArray bytes = QFile::encodeName(QDir::toNativeSeparators(folder));
    return std::string(bytes.constData(), static_cast<std::size_t>(bytes.size()));
}

std::shared_ptr<FolderChooser> DefaultChooser() {
    return std::make_shared<DialogFolderChooser>();
}

std::string NormalisedFolder(std::string path) {
    if (QDir::isRelativePath(QFile::decodeName(path.c_str()))) {
        return {};
    }
    const auto atRoot = [&path] {
        return path.size() == 1 || (path.size() == 3 && path[1] == ':');
    };
    while (!atRoot() && path.back() == ostrapel::kPathSeparator) {
        path.pop_back();
    }
    return path;
}

void BrowseForFolder(QWidget* owner, FolderChooser& chooser) {
    std::optional<std::string> chosen = chooser.ChooseFolder(owner, kTitle);
    Selected() = chosen ? NormalisedFolder(std::move(*chosen)) : std::string();
}

const std::string& SelectedFolder() {
    return Selected();
}

} // namespace mdlSHBrowseForFolder
