// Shows the window and writes a PNG of it: ostrapel_screenshot OUT.png [--loaded | --batch]
// With --loaded, a sample save folder is listed, its versions read and version 2.00 chosen;
// with --batch, a conversion to 3.00 of that folder is under way.

#include "frmMain.h"

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QPixmap>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>
#include <cstdio>

namespace {

// A cipher tool for the picture: "enciphering" flips the first byte, which is its own inverse.
// Enciphering takes a second when asked, so a batch can be caught under way.
constexpr const char* kTool = R"sh(#!/bin/sh
file=${1#*:}
case $1 in /encrypt:*) [ -n "$OSTRAPEL_SHOT_SLOW" ] && sleep 1 ;; esac
byte=$(od -An -tu1 -N1 "$file" | tr -d ' ')
printf "\\$(printf %o $((byte ^ 90)))" | dd of="$file" bs=1 count=1 conv=notrunc 2>/dev/null
)sh";

bool WriteSave(const QString& path, int value, int size) {
    QByteArray data(size, 's');
    if (size >= 790) {
        data[788] = static_cast<char>(value & 0xFF);
        data[789] = static_cast<char>(value >> 8);
    }
    data[0] = static_cast<char>(data[0] ^ 0x5A);
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(data) == data.size();
}

} // namespace

int main(int argc, char** argv) {
    QApplication application(argc, argv);
    const QStringList arguments = QApplication::arguments();
    const QString mode = arguments.size() == 3 ? arguments[2] : QString();
    if (arguments.size() < 2 || arguments.size() > 3 ||
        (arguments.size() == 3 && mode != QStringLiteral("--loaded") &&
         mode != QStringLiteral("--batch"))) {
        std::fprintf(stderr, "usage: ostrapel_screenshot OUT.png [--loaded | --batch]\n");
        return 2;
    }
    // The window makes its program folder current.
    const QString target = QFileInfo(arguments[1]).absoluteFilePath();

    QTemporaryDir root;
    const QDir dir(root.path());
    QFile tool(dir.filePath(QStringLiteral("app/Decrypt/decrypt.exe")));
    const QString saves = dir.filePath(QStringLiteral("saves"));
    const bool made = root.isValid() && dir.mkpath(QStringLiteral("app/Decrypt/temp")) &&
                      dir.mkpath(QStringLiteral("saves")) && tool.open(QIODevice::WriteOnly) &&
                      tool.write(kTool) > 0 &&
                      tool.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner) &&
                      WriteSave(QDir(saves).filePath(QStringLiteral("profile.sav")), 0, 100) &&
                      WriteSave(QDir(saves).filePath(QStringLiteral("slot1.sav")), 200, 4096) &&
                      WriteSave(QDir(saves).filePath(QStringLiteral("slot2.sav")), 100, 4096) &&
                      WriteSave(QDir(saves).filePath(QStringLiteral("slot3.sav")), 250, 4096);
    tool.close();
    if (!made) {
        std::fprintf(stderr, "cannot make the sample folders\n");
        return 1;
    }

    frmMain window(QFile::encodeName(dir.filePath(QStringLiteral("app"))).toStdString(),
                   std::make_shared<mdlSHBrowseForFolder::FixedFolderChooser>(
                       QFile::encodeName(saves).toStdString()));
    window.setReportPresenter([](QWidget*, const QString&, bool) {});
    window.setCloseQuestion([](QWidget*) { return true; });
    window.show();
    auto* combo = window.findChild<QComboBox*>(QStringLiteral("ComboDLC"));
    if (!mode.isEmpty()) {
        QEventLoop reading;
        QObject::connect(&window, &frmMain::versionsRead, &reading, &QEventLoop::quit);
        QTimer::singleShot(10000, &reading, &QEventLoop::quit);
        window.LoadFolderSave();
        if (window.readingVersions()) {
            reading.exec();
        }
        combo->setCurrentIndex(mode == QStringLiteral("--batch") ? 3 : 2);
    }
    if (mode == QStringLiteral("--batch")) {
        qputenv("OSTRAPEL_SHOT_SLOW", "1");
        window.findChild<QPushButton*>(QStringLiteral("cmdSave"))->click();
    }

    int status = 1;
    QTimer::singleShot(mode == QStringLiteral("--batch") ? 1500 : 300, &window, [&] {
        if (window.grab().save(target, "PNG")) {
            status = 0;
        } else {
            std::fprintf(stderr, "cannot write %s\n", qPrintable(target));
        }
        window.CancelBatch();
        window.close();
    });
    QObject::connect(&window, &frmMain::batchFinished, &window, [&] {
        if (status == 0) {
            window.close();
        }
    });
    QApplication::exec();
    return status;
}
