// Shows the window and writes a PNG of it: ostrapel_screenshot OUT.png [--loaded]
// With --loaded, a sample save folder is listed and version 2.00 chosen first.

#include "frmMain.h"

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QPixmap>
#include <QTemporaryDir>
#include <QTimer>
#include <cstdio>

int main(int argc, char** argv) {
    QApplication application(argc, argv);
    const QStringList arguments = QApplication::arguments();
    if (arguments.size() < 2 || arguments.size() > 3 ||
        (arguments.size() == 3 && arguments[2] != QStringLiteral("--loaded"))) {
        std::fprintf(stderr, "usage: ostrapel_screenshot OUT.png [--loaded]\n");
        return 2;
    }
    const bool loaded = arguments.size() == 3;
    // The window makes its program folder current.
    const QString target = QFileInfo(arguments[1]).absoluteFilePath();

    QTemporaryDir root;
    if (!root.isValid() || !QDir(root.path()).mkpath(QStringLiteral("app/Decrypt/temp")) ||
        !QDir(root.path()).mkpath(QStringLiteral("saves"))) {
        std::fprintf(stderr, "cannot make a temporary folder\n");
        return 1;
    }
    const QString saves = root.filePath(QStringLiteral("saves"));
    for (const char* name : {"profile.sav", "slot1.sav", "slot2.sav", "slot3.sav"}) {
        QFile file(QDir(saves).filePath(QString::fromLatin1(name)));
        (void)file.open(QIODevice::WriteOnly);
    }

    frmMain window(QFile::encodeName(root.filePath(QStringLiteral("app"))).toStdString(),
                   std::make_shared<mdlSHBrowseForFolder::FixedFolderChooser>(
                       QFile::encodeName(saves).toStdString()));
    window.show();
    if (loaded) {
        window.LoadFolderSave();
        window.findChild<QComboBox*>(QStringLiteral("ComboDLC"))->setCurrentIndex(2);
    }

    int status = 1;
    QTimer::singleShot(300, &window, [&] {
        if (window.grab().save(target, "PNG")) {
            status = 0;
        } else {
            std::fprintf(stderr, "cannot write %s\n", qPrintable(target));
        }
        window.close();
    });
    QApplication::exec();
    return status;
}
