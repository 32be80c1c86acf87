#pragma once

#include "TestSupport.h"
#include "frmMain.h"
#include "mdlSHBrowseForFolder.h"

#include <QListWidget>
#include <QPushButton>
#include <QStringList>
#include <deque>
#include <memory>
#include <optional>
#include <string>
#include <vector>

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

struct Report {
    QString text;
    bool allChanged = false;
};

// Records the reports a window would show, without showing them.
struct ReportLog {
    std::vector<Report> reports;

    frmMain::ReportPresenter presenter() {
        return [this](QWidget*, const QString& text, bool allChanged) {
            reports.push_back({text, allChanged});
        };
    }
};

// Answers the question asked when the window is closed during a batch, and counts it.
struct CloseLog {
    int asked = 0;
    bool answer = false; // true: cancel the batch and close

    frmMain::CloseQuestion question() {
        return [this](QWidget*) {
            ++asked;
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
        window->setCloseQuestion(closing.question());
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
