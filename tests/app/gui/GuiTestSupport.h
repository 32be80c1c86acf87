#pragma once

#include "Report.h"
#include "TestSupport.h"
#include "conversion/Backups.h"
#include "frmMain.h"
#include "mdlSHBrowseForFolder.h"

#include <QApplication>
#include <QClipboard>
#include <QFileDialog>
#include <QFileSystemModel>
#include <QGuiApplication>
#include <QLineEdit>
#include <QListView>
#include <QListWidget>
#include <QMessageBox>
#include <QPushButton>
#include <QSignalSpy>
#include <QStringList>
#include <QTest>
#include <QTextEdit>
#include <QTimer>
#include <QWindow>
#include <deque>
#include <memory>
#include <optional>
#include <string>
#include <vector>

// Qt's QTRY_ macros wait 5 s at most: scaled like every other wait on an event.
#undef QTRY_VERIFY
#define QTRY_VERIFY(expr) QTRY_VERIFY_WITH_TIMEOUT((expr), testsupport::ScaledMs(20000))
#undef QTRY_COMPARE
#define QTRY_COMPARE(expr, expected)                                                               \
    QTRY_COMPARE_WITH_TIMEOUT((expr), (expected), testsupport::ScaledMs(20000))

namespace guitest {

// Stands in for the folder dialog: hands out scripted answers, nothing meaning cancel.
class ScriptedChooser final : public mdlSHBrowseForFolder::FolderChooser {
public:
    void willAnswer(std::optional<std::string> answer) { answers_.push_back(std::move(answer)); }

    std::optional<std::string> ChooseFolder(QWidget* owner, const QString& title) override {
        ++calls;
        lastOwner = owner;
        lastTitle = title;
        if (answers_.empty()) {
            return std::nullopt;
        }
        std::optional<std::string> answer = std::move(answers_.front());
        answers_.pop_front();
        return answer;
    }

    int calls = 0;
    QWidget* lastOwner = nullptr;
    QString lastTitle;

private:
    std::deque<std::optional<std::string>> answers_;
};

// What a test saw of the platform's folder dialog while it was up.
struct FolderDialogSeen {
    bool appeared = false;
    QString title;
    QWidget* owner = nullptr;
    bool modal = false;
    bool ownerBlocked = false; // the dialog is the window that takes input
    QFileDialog::FileMode fileMode = QFileDialog::AnyFile;
    bool foldersOnly = false;
    QString startFolder;
    QStringList shown; // what the dialog listed in the folder it was taken to
};

// Answers the next folder dialog as a user would: looks at it, goes to a folder and notes what
// it lists there, then types a name in it and confirms, or cancels when the name is empty.
class FolderDialogDriver : public QObject {
public:
    FolderDialogDriver(QString goTo, QString type)
        : goTo_(std::move(goTo)), type_(std::move(type)) {
        connect(&poll_, &QTimer::timeout, this, &FolderDialogDriver::poll);
        poll_.start(20);
    }

    FolderDialogSeen seen;

private:
    void poll() {
        auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
        if (dialog == nullptr || seen.appeared) {
            return;
        }
        poll_.stop();
        seen.appeared = true;
        seen.title = dialog->windowTitle();
        seen.owner = dialog->parentWidget();
        seen.modal = dialog->isModal();
        seen.ownerBlocked = QGuiApplication::modalWindow() == dialog->windowHandle();
        seen.fileMode = dialog->fileMode();
        seen.foldersOnly = dialog->testOption(QFileDialog::ShowDirsOnly);
        seen.startFolder = dialog->directory().absolutePath();

        auto* model = dialog->findChild<QFileSystemModel*>();
        auto* view = dialog->findChild<QListView*>(QStringLiteral("listView"));
        if (model != nullptr && view != nullptr) {
            QSignalSpy loaded(model, &QFileSystemModel::directoryLoaded);
            dialog->setDirectory(goTo_);
            (void)QTest::qWaitFor(
                [&] {
                    for (const QList<QVariant>& signal : loaded) {
                        if (QDir(signal.at(0).toString()) == QDir(goTo_)) {
                            return true;
                        }
                    }
                    return false;
                },
                5000);
            QApplication::processEvents();
            const QModelIndex root = view->rootIndex();
            for (int row = 0; row < view->model()->rowCount(root); ++row) {
                seen.shown << view->model()->index(row, 0, root).data().toString();
            }
            seen.shown.sort();
        }
        auto* name = dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
        if (type_.isEmpty() || name == nullptr) {
            dialog->reject();
            return;
        }
        name->setText(type_);
        QTest::keyClick(name, Qt::Key_Return);
        if (dialog->isVisible()) {
            dialog->reject(); // what was typed was refused
        }
    }

    QString goTo_;
    QString type_;
    QTimer poll_;
};

struct Report {
    QString text;    // the box's text
    QString details; // the box's details
    bool allChanged = false;
};

// Records the reports a window would show, without showing them.
struct ReportLog {
    std::vector<Report> reports;

    frmMain::ReportPresenter presenter() {
        return [this](QWidget*, const ostrapel::BatchResult& result) {
            const ostrapel::BoxReport box = ostrapel::ComposeBoxReport(result);
            reports.push_back({QString::fromStdString(box.text),
                               QString::fromStdString(box.details), result.allChanged()});
        };
    }

    // Restores are logged the same way: allChanged says whether every save was restored.
    frmMain::RestorePresenter restorePresenter() {
        return [this](QWidget*, const ostrapel::RestoreResult& result) {
            const ostrapel::BoxReport box = ostrapel::ComposeRestoreBoxReport(result);
            reports.push_back({QString::fromStdString(box.text),
                               QString::fromStdString(box.details), result.allRestored()});
        };
    }
};

// Where a message box and its OK button stood, with its details shown and without, and what it
// showed.
struct BoxSeen {
    QString text;
    QString details;
    Qt::TextFormat format = Qt::AutoText;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    QRect available;
    QRect frame;
    QRect ok;
    bool detailsButton = false;
    QRect frameWithDetails;
    QRect okWithDetails;
    int detailsLines = 0;   // the lines the details pane shows
    bool resizable = false; // the box, details shown, may be made taller
    QString copied;         // what Ctrl+C put on the clipboard

    // Empty when the box and its OK button stood within the screen's available area, details
    // shown or not, and the details made it taller; else what did not.
    QString misfit() const {
        const auto outside = [this](const char* which, const QRect& rect) {
            return QStringLiteral("%1 at %2,%3 size %4x%5 not within %6x%7")
                .arg(QLatin1String(which))
                .arg(rect.x())
                .arg(rect.y())
                .arg(rect.width())
                .arg(rect.height())
                .arg(available.width())
                .arg(available.height());
        };
        if (!available.contains(frame)) {
            return outside("box", frame);
        }
        if (!available.contains(ok)) {
            return outside("OK", ok);
        }
        if (!detailsButton) {
            return QStringLiteral("no details button");
        }
        if (!available.contains(frameWithDetails)) {
            return outside("box with details", frameWithDetails);
        }
        if (!available.contains(okWithDetails)) {
            return outside("OK with details", okWithDetails);
        }
        if (frameWithDetails.height() <= frame.height()) {
            return QStringLiteral("the details did not show");
        }
        return {};
    }
};

inline QRect GlobalRect(const QWidget* widget) {
    return QRect(widget->mapToGlobal(QPoint(0, 0)), widget->size());
}

// While it lives, notes the first message box shown modally, opens its details when it has
// any, and closes it.
struct BoxWatch {
    BoxWatch() {
        QObject::connect(&closer, &QTimer::timeout, [this] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            if (box == nullptr || seen) {
                return;
            }
            seen.emplace();
            seen->text = box->text();
            seen->details = box->detailedText();
            seen->format = box->textFormat();
            seen->icon = box->icon();
            seen->available = box->screen()->availableGeometry();
            seen->frame = box->frameGeometry();
            seen->ok = GlobalRect(box->button(QMessageBox::Ok));
            if (QAbstractButton* details = frmMain::DetailsButton(*box)) {
                seen->detailsButton = true;
                details->click();
                QApplication::processEvents();
                seen->frameWithDetails = box->frameGeometry();
                seen->okWithDetails = GlobalRect(box->button(QMessageBox::Ok));
                for (int wait = 0; wait < 100 && box->maximumHeight() <= box->height(); ++wait) {
                    QTest::qWait(10);
                }
                seen->resizable = box->maximumHeight() > box->height();
                if (const auto* pane = box->findChild<QTextEdit*>()) {
                    seen->detailsLines =
                        pane->viewport()->height() / std::max(pane->fontMetrics().lineSpacing(), 1);
                }
            }
            QGuiApplication::clipboard()->clear();
            QTest::keyClick(box, Qt::Key_C, Qt::ControlModifier);
            seen->copied = QGuiApplication::clipboard()->text();
            box->accept();
        });
        closer.start(10);
    }

    QTimer closer;
    std::optional<BoxSeen> seen;
};

// Answers the window's questions (closing during a batch, restoring a set), and counts them.
struct CloseLog {
    int asked = 0;
    bool answer = false; // true: yes
    QString last;

    frmMain::QuestionPresenter question() {
        return [this](QWidget*, const ostrapel::Question& question) {
            ++asked;
            last = QString::fromStdString(question.text);
            return answer;
        };
    }
};

// A program folder with the stand-in cipher tool, a save folder beside it, and a window over
// both whose reports are recorded.
struct WindowFixture {
    explicit WindowFixture(bool withTool = true)
        : appDir(testsupport::MakeProgramFolder(root, withTool)), saves(root / "saves"),
          work(appDir + "Decrypt/temp/"), chooser(std::make_shared<ScriptedChooser>()) {
        testsupport::MakeDir(saves);
    }

    frmMain& open() {
        window = std::make_unique<frmMain>(appDir, chooser);
        window->setReportPresenter(log.presenter());
        window->setRestorePresenter(log.restorePresenter());
        window->setQuestionPresenter(closing.question());
        return *window;
    }

    // Lists the save folder through the open button.
    void listSaves() {
        chooser->willAnswer(saves);
        window->findChild<QPushButton*>(QStringLiteral("cmdOpen"))->click();
    }

    testsupport::TempDir root;
    std::string appDir;
    std::string saves;
    std::string work;
    std::string backups = root / "backups";
    testsupport::ScopedEnv backupsEnv{"OSTRAPEL_BACKUP_DIR", backups};
    std::shared_ptr<ScriptedChooser> chooser;
    ReportLog log;
    CloseLog closing;
    std::unique_ptr<frmMain> window;
};

template <typename T> T* Control(QWidget& window, const char* name) {
    return window.findChild<T*>(QString::fromLatin1(name));
}

// The listed names: each item's text up to the version shown beside it.
inline QStringList Items(QListWidget* list) {
    QStringList items;
    for (int row = 0; row < list->count(); ++row) {
        QString text = list->item(row)->text();
        const QString version = list->item(row)->data(frmMain::kVersionRole).toString();
        if (!version.isEmpty() && text.endsWith(QStringLiteral("   ") + version)) {
            text.chop(version.size() + 3);
        }
        items << text;
    }
    return items;
}

} // namespace guitest
