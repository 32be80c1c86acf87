#include "mdlSHBrowseForFolder.h"

#include "system/Paths.h"

#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QSettings>

namespace mdlSHBrowseForFolder {

namespace {

std::string& Selected() {
    static std::string selected;
    return selected;
}

} // namespace

namespace {

constexpr const char* kLastFolderKey = "folders/last";

std::unique_ptr<QSettings> OpenSettings(const QString& file) {
    if (!file.isEmpty()) {
        return std::make_unique<QSettings>(file, QSettings::IniFormat);
    }
    return std::make_unique<QSettings>(QSettings::IniFormat, QSettings::UserScope,
                                       QStringLiteral("Ostrapel"), QStringLiteral("Ostrapel"));
}

} // namespace

DialogFolderChooser::DialogFolderChooser(QString settingsFile)
    : settingsFile_(std::move(settingsFile)) {}

QString DialogFolderChooser::StartFolder() const {
    const QString last =
        OpenSettings(settingsFile_)->value(QLatin1String(kLastFolderKey)).toString();
    if (!last.isEmpty() && QFileInfo(last).isDir()) {
        return last;
    }
    return QDir::homePath();
}

void DialogFolderChooser::Remember(const std::string& folder) {
    if (folder.empty()) {
        return;
    }
    auto settings = OpenSettings(settingsFile_);
    settings->setValue(QLatin1String(kLastFolderKey), QFile::decodeName(folder.c_str()));
    settings->sync();
}

std::optional<std::string> DialogFolderChooser::ChooseFolder(QWidget* owner, const QString& title) {
    const QString folder =
        QFileDialog::getExistingDirectory(owner, title, StartFolder(), QFileDialog::ShowDirsOnly);
    if (folder.isEmpty()) {
        return std::nullopt;
    }
    const QByteArray bytes = QFile::encodeName(QDir::toNativeSeparators(folder));
    std::string chosen(bytes.constData(), static_cast<std::size_t>(bytes.size()));
    Remember(chosen);
    return chosen;
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

void SelectFolder(std::string folder) {
    Selected() = NormalisedFolder(std::move(folder));
}

} // namespace mdlSHBrowseForFolder
