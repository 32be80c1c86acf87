#include "frmMain.h"

#include <QApplication>
#include <QMessageBox>
#include <QTimer>

int main(int argc, char** argv) {
    QApplication application(argc, argv);
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
