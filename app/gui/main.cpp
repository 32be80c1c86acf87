#include "Language.h"
#include "frmMain.h"

#include <QApplication>
#include <QMessageBox>
#include <QTimer>

int main(int argc, char** argv) {
    // The language first: every text, Qt's own too, is read in it from here on.
    (void)language::ChooseFromArguments(argc, argv);
    QApplication application(argc, argv);
    (void)language::LoadQtTranslations(application);
    frmMain window;
    window.show();
    // Told before a folder is chosen, over the window.
    if (const QString notice = window.StartupNotice(); !notice.isEmpty()) {
        QTimer::singleShot(0, &window, [&window, notice] {
            QMessageBox::warning(&window, QStringLiteral("Ostrapel"), notice);
        });
    }
    return QApplication::exec();
}
