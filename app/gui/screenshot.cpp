// Shows the window and writes a PNG of it:
//   ostrapel_screenshot [--language TAG] OUT.png [--loaded | --batch | --report |
//                     --report-details | --restore-menu | --restore | --restore-details]
// --loaded: a sample save folder is listed, its saves' versions read and version 2.00 chosen.
// --batch: the same folder being converted to 3.00, the batch caught under way.
// --report: a save folder holding four saves and 60 screenshots is converted, with a cipher
// tool that fails on the screenshots, and the whole screen is written with the report box on
// it; --report-details does the same with the box's details shown; --restore-menu converts the
// same folder, dismisses the report and writes the screen with the file list's right-click menu
// open. --restore: a folder of 64 saves is converted, then the game writes 57 of them and 3 go,
// and the whole screen is written with the box reporting the restore; --restore-details does the
// same with the box's details shown.
// --language TAG: the window in that language ("de", "zh_CN", "pseudo"), as the program takes it.
// With OSTRAPEL_SHOT_STAY set, the window of the first three, the report box of --report and
// --report-details and the menu of --restore-menu (opened by Shift+F10, as from the keyboard)
// stay open once written, for tools that look at them (the accessibility test); they close when
// the process is ended.

#include "Language.h"
#include "SampleSave.h"
#include "frmMain.h"

#include <QAbstractButton>
#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QKeyEvent>
#include <QListWidget>
#include <QMenu>
#include <QMessageBox>
#include <QPalette>
#include <QPixmap>
#include <QPointer>
#include <QPushButton>
#include <QScreen>
#include <QTemporaryDir>
#include <QTimer>
#include <cstdio>

namespace {

bool WriteBytes(const QString& path, const QByteArray& bytes) {
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

// A cipher tool that leaves saves as they are and fails on pictures, as the real one does.
// With OSTRAPEL_SHOT_SLOW set, enciphering takes a second, so a batch can be caught under way.
bool WritePictureRefusingTool(const QString& appDir) {
    const QString tool = QDir(appDir).filePath(QStringLiteral("Decrypt/decrypt.exe"));
    // Swapping the bytes 0 and 1 is its own inverse, which is all the batch's checks ask.
    return WriteBytes(
               tool,
               "#!/bin/sh\ncase \"$1\" in *.png) exit 3 ;; esac\n"
               "case \"$1\" in /encrypt:*) [ -n \"$OSTRAPEL_SHOT_SLOW\" ] && sleep 1 ;; esac\n"
               "f=${1#*:}\n"
               "tr '\\000\\001' '\\001\\000' <\"$f\" >\"$f.t\" && mv \"$f.t\" \"$f\"\n") &&
           QFile::setPermissions(tool, QFile::permissions(tool) | QFileDevice::ExeOwner);
}

// A save as that tool stores it whose field holds value; empty when size leaves no room.
QByteArray SaveHolding(int value, int size) {
    return QByteArray::fromStdString(
        ostrapel::SampleSaveHolding(value, static_cast<std::size_t>(size)));
}

} // namespace

int main(int argc, char** argv) {
    (void)language::ChooseFromArguments(argc, argv);
    QApplication application(argc, argv);
    (void)language::LoadQtTranslations(application);
    // OSTRAPEL_SHOT_PALETTE=dark or contrast: the desktop's colours of a dark theme (as KDE's
    // Breeze Dark has them) or of high contrast, as the window takes them from the desktop.
    const QByteArray colours = qgetenv("OSTRAPEL_SHOT_PALETTE");
    if (colours == "dark" || colours == "contrast") {
        const bool dark = colours == "dark";
        QPalette palette;
        const QColor window = dark ? QColor(32, 35, 38) : QColor(Qt::black);
        const QColor text = dark ? QColor(252, 252, 252) : QColor(Qt::white);
        const QColor base = dark ? QColor(20, 22, 24) : QColor(Qt::black);
        const QColor button = dark ? QColor(41, 44, 48) : QColor(Qt::black);
        const QColor highlight = dark ? QColor(61, 174, 233) : QColor(Qt::yellow);
        for (auto [role, colour] :
             {std::pair{QPalette::Window, window}, std::pair{QPalette::WindowText, text},
              std::pair{QPalette::Base, base}, std::pair{QPalette::AlternateBase, button},
              std::pair{QPalette::Text, text}, std::pair{QPalette::Button, button},
              std::pair{QPalette::ButtonText, text}, std::pair{QPalette::ToolTipBase, base},
              std::pair{QPalette::ToolTipText, text}, std::pair{QPalette::Highlight, highlight},
              std::pair{QPalette::HighlightedText,
                        dark ? QColor(252, 252, 252) : QColor(Qt::black)}}) {
            palette.setColor(role, colour);
        }
        QApplication::setPalette(palette);
    }
    const QStringList arguments = QApplication::arguments();
    const QStringList scenes = {
        QStringLiteral("--loaded"),         QStringLiteral("--batch"),
        QStringLiteral("--report"),         QStringLiteral("--report-details"),
        QStringLiteral("--restore-menu"),   QStringLiteral("--restore"),
        QStringLiteral("--restore-details")};
    if (arguments.size() < 2 || arguments.size() > 3 ||
        (arguments.size() == 3 && !scenes.contains(arguments[2]))) {
        std::fprintf(stderr, "usage: ostrapel_screenshot [--language TAG] OUT.png [--loaded | "
                             "--batch | --report | --report-details | --restore-menu | "
                             "--restore | --restore-details]\n");
        return 2;
    }
    const QString scene = arguments.size() == 3 ? arguments[2] : QString();
    const bool menu = scene == QStringLiteral("--restore-menu");
    const bool restore = scene.startsWith(QStringLiteral("--restore")) && !menu;
    const bool report = scene.startsWith(QStringLiteral("--report")) || menu || restore;
    // The window makes its program folder current.
    const QString target = QFileInfo(arguments[1]).absoluteFilePath();

    QTemporaryDir root;
    // app/Backups makes the program folder portable: a batch's backups stay in the temporary.
    if (!root.isValid() || !QDir(root.path()).mkpath(QStringLiteral("app/Decrypt/temp")) ||
        !QDir(root.path()).mkpath(QStringLiteral("app/Backups")) ||
        !QDir(root.path()).mkpath(QStringLiteral("saves"))) {
        std::fprintf(stderr, "cannot make a temporary folder\n");
        return 1;
    }
    const QString app = root.filePath(QStringLiteral("app"));
    const QString saves = root.filePath(QStringLiteral("saves"));
    const bool versions = scene == QStringLiteral("--loaded") || scene == QStringLiteral("--batch");
    if (versions) {
        // A short profile that cannot be read, and three saves at different versions.
        const std::pair<const char*, QByteArray> sample[] = {{"profile.sav", SaveHolding(0, 100)},
                                                             {"slot1.sav", SaveHolding(200, 4096)},
                                                             {"slot2.sav", SaveHolding(100, 4096)},
                                                             {"slot3.sav", SaveHolding(250, 4096)}};
        for (const auto& [name, bytes] : sample) {
            (void)WriteBytes(QDir(saves).filePath(QString::fromLatin1(name)), bytes);
        }
        // OSTRAPEL_SHOT_MANY: 300 more saves whose long names begin alike.
        for (int i = 1; i <= (qEnvironmentVariableIsEmpty("OSTRAPEL_SHOT_MANY") ? 0 : 300); ++i) {
            (void)WriteBytes(
                QDir(saves).filePath(QStringLiteral("Autosave_Chapter03_Checkpoint_%1.sav")
                                         .arg(i, 3, 10, QLatin1Char('0'))),
                SaveHolding(100, 4096));
        }
    } else {
        for (const char* name : {"profile.sav", "slot1.sav", "slot2.sav", "slot3.sav"}) {
            (void)WriteBytes(QDir(saves).filePath(QString::fromLatin1(name)),
                             report ? SaveHolding(100, 4096) : QByteArray());
        }
    }
    const auto autosave = [&saves](int i) {
        return QDir(saves).filePath(QStringLiteral("autosave_%1.sav").arg(i));
    };
    if (restore) {
        for (int i = 1; i <= 60; ++i) {
            (void)WriteBytes(autosave(i), SaveHolding(100, 4096));
        }
    } else if (report) {
        for (int i = 1; i <= 60; ++i) {
            (void)WriteBytes(QDir(saves).filePath(QStringLiteral("screenshot_%1.png").arg(i)),
                             QByteArray("\x89PNG"));
        }
    }
    if (report || versions) {
        if (!WritePictureRefusingTool(app)) {
            std::fprintf(stderr, "cannot write the cipher tool\n");
            return 1;
        }
    }

    frmMain window(QFile::encodeName(app).toStdString(),
                   std::make_shared<mdlSHBrowseForFolder::FixedFolderChooser>(
                       QFile::encodeName(saves).toStdString()));
    window.setQuestionPresenter([](QWidget*, const ostrapel::Question&) { return true; });
    window.show();
    if (!scene.isEmpty()) {
        QEventLoop reading;
        QObject::connect(&window, &frmMain::versionsRead, &reading, &QEventLoop::quit);
        QTimer::singleShot(10000, &reading, &QEventLoop::quit);
        window.LoadFolderSave();
        if (versions && window.readingVersions()) {
            reading.exec();
        }
        window.findChild<QComboBox*>(QStringLiteral("ComboDLC"))
            ->setCurrentIndex(scene == QStringLiteral("--batch") ? 3 : 2);
    }

    int status = 1;
    auto save = [&status, &target](const QPixmap& picture) {
        if (picture.save(target, "PNG")) {
            status = 0;
        } else {
            std::fprintf(stderr, "cannot write %s\n", qPrintable(target));
        }
    };
    if (scene == QStringLiteral("--batch")) {
        qputenv("OSTRAPEL_SHOT_SLOW", "1");
        window.setReportPresenter([](QWidget*, const ostrapel::BatchResult&) {});
        window.findChild<QPushButton*>(QStringLiteral("cmdSave"))->click();
        QObject::connect(&window, &frmMain::batchFinished, &window, &QWidget::close);
        QTimer::singleShot(1500, &window, [&] {
            save(window.grab());
            if (qEnvironmentVariableIsEmpty("OSTRAPEL_SHOT_STAY")) {
                window.close(); // cancels the batch; the window closes once it has ended
            } else {
                std::printf("shown\n");
                std::fflush(stdout);
            }
        });
        return QApplication::exec() == 0 ? status : 1;
    }
    if (!report) {
        QTimer::singleShot(300, &window, [&] {
            save(window.grab());
            if (qEnvironmentVariableIsEmpty("OSTRAPEL_SHOT_STAY")) {
                window.close();
            } else {
                window.activateWindow(); // no window manager gives it the keyboard
                std::printf("shown\n");
                std::fflush(stdout);
            }
        });
        return QApplication::exec() == 0 ? status : 1;
    }

    // The report box is modal: catch it once it is up, let it paint, write the screen, close it.
    QTimer watch;
    QObject::connect(&watch, &QTimer::timeout, &window, [&] {
        QPointer<QMessageBox> box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (box == nullptr) {
            return;
        }
        watch.stop();
        if (menu) {
            box->accept();
            return;
        }
        if (scene.endsWith(QStringLiteral("-details"))) {
            if (QAbstractButton* details = frmMain::DetailsButton(*box)) {
                details->click();
            }
        }
        QTimer::singleShot(500, box, [&save, box] {
            save(box->screen()->grabWindow(0));
            if (qEnvironmentVariableIsEmpty("OSTRAPEL_SHOT_STAY")) {
                box->accept();
            } else {
                std::printf("shown\n");
                std::fflush(stdout);
            }
        });
    });
    if (restore) {
        // No box for the batch: the box caught is the restore's.
        window.setReportPresenter([](QWidget*, const ostrapel::BatchResult&) {});
        QObject::connect(&window, &frmMain::restoreFinished, &window, &QWidget::close);
    }
    QObject::connect(&window, &frmMain::batchFinished, &window, [&] {
        if (restore) {
            for (int i = 1; i <= 60; ++i) {
                if (i <= 57) {
                    (void)WriteBytes(autosave(i), QByteArray("written by the game"));
                } else {
                    (void)QFile::remove(autosave(i));
                }
            }
            QTimer::singleShot(0, &window, [&window] { window.RestoreSaves(); });
            return;
        }
        if (!menu) {
            window.close();
            return;
        }
        // The menu runs a loop of its own: catch it once it is up, write the screen, close it.
        QTimer::singleShot(500, &window, [&save, &window] {
            save(window.screen()->grabWindow(0));
            if (!qEnvironmentVariableIsEmpty("OSTRAPEL_SHOT_STAY")) {
                std::printf("shown\n");
                std::fflush(stdout);
            } else if (auto* popup = qobject_cast<QMenu*>(QApplication::activePopupWidget())) {
                popup->close();
            }
        });
        auto* list = window.findChild<QListWidget*>(QStringLiteral("List"));
        QTimer::singleShot(0, &window, [list, &window] {
            // From the keyboard: the menu starts on its newest item.
            list->setFocus();
            QKeyEvent press(QEvent::KeyPress, Qt::Key_F10, Qt::ShiftModifier);
            QApplication::sendEvent(list, &press);
            window.close();
        });
    });
    watch.start(50);
    window.ConvertSaves();
    return QApplication::exec() == 0 ? status : 1;
}
