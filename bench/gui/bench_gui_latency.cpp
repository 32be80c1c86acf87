// How long the window goes without handling its events while a batch of many saves runs.
//   bench_gui_latency [N]   (default 500 saves; offscreen unless QT_QPA_PLATFORM says otherwise)
// Prints the longest single event dispatch and the longest stall of a 5 ms heartbeat timer,
// against a target of 16 ms (one frame at 60 Hz).

#include "frmMain.h"

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>
#include <QWindow>
#include <algorithm>
#include <cstdio>
#include <cstdlib>

namespace {

constexpr int kHeartbeatMs = 5;
constexpr double kTargetMs = 16.0;

// Times every outermost event dispatch.
class TimedApplication final : public QApplication {
public:
    using QApplication::QApplication;

    bool notify(QObject* receiver, QEvent* event) override {
        if (depth_++ > 0) {
            const bool handled = QApplication::notify(receiver, event);
            --depth_;
            return handled;
        }
        const int type = static_cast<int>(event->type()); // the event may not outlive notify
        QElapsedTimer timer;
        timer.start();
        const bool handled = QApplication::notify(receiver, event);
        --depth_;
        if (measuring) {
            const qint64 elapsed = timer.nsecsElapsed();
            if (elapsed > longestNs) {
                longestNs = elapsed;
                longestType = type;
            }
            ++events;
        }
        return handled;
    }

    bool measuring = false;
    qint64 longestNs = 0;
    int longestType = 0;
    long events = 0;

private:
    int depth_ = 0;
};

[[noreturn]] void Fail(const char* what) {
    std::fprintf(stderr, "bench: %s failed\n", what);
    std::exit(1);
}

std::string Bytes(const QString& path) {
    return QFile::encodeName(path).toStdString();
}

} // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    TimedApplication application(argc, argv);
    const int count = argc > 1 ? std::atoi(argv[1]) : 500;
    if (count <= 0) {
        Fail("reading N");
    }

    QTemporaryDir root;
    const QDir dir(root.path());
    // app/Backups makes the program folder portable: the backups stay in the temporary.
    if (!root.isValid() || !dir.mkpath(QStringLiteral("app/Decrypt/temp")) ||
        !dir.mkpath(QStringLiteral("app/Backups")) || !dir.mkpath(QStringLiteral("saves")) ||
        !QFile::copy(QStringLiteral(OSTRAPEL_MINIMAL_TOOL),
                     dir.filePath(QStringLiteral("app/Decrypt/decrypt.exe")))) {
        Fail("preparing the folders");
    }
    const QByteArray content(4096, 's');
    for (int i = 0; i < count; ++i) {
        QFile save(dir.filePath(QStringLiteral("saves/save%1.sav").arg(i)));
        if (!save.open(QIODevice::WriteOnly) || save.write(content) != content.size()) {
            Fail("writing the saves");
        }
    }

    frmMain window(Bytes(dir.filePath(QStringLiteral("app"))),
                   std::make_shared<mdlSHBrowseForFolder::FixedFolderChooser>(
                       Bytes(dir.filePath(QStringLiteral("saves")))));
    QString report;
    window.setReportPresenter([&report](QWidget*, const ostrapel::BatchResult& result) {
        report = QString::fromStdString(result.report);
    });
    window.show();
    // The first expose and paint belong to start-up, not to the batch.
    QElapsedTimer startUp;
    startUp.start();
    while ((window.windowHandle() == nullptr || !window.windowHandle()->isExposed()) &&
           startUp.elapsed() < 5000) {
        QApplication::processEvents(QEventLoop::AllEvents, 50);
    }
    QApplication::processEvents();
    window.LoadFolderSave();
    window.findChild<QComboBox*>(QStringLiteral("ComboDLC"))->setCurrentIndex(2);

    QElapsedTimer sinceBeat;
    qint64 longestGapNs = 0;
    QTimer heartbeat;
    heartbeat.setTimerType(Qt::PreciseTimer);
    QObject::connect(&heartbeat, &QTimer::timeout, [&] {
        longestGapNs = std::max(longestGapNs, sinceBeat.nsecsElapsed());
        sinceBeat.restart();
    });

    QElapsedTimer batchTime;
    QObject::connect(&window, &frmMain::batchFinished, [&] {
        application.measuring = false;
        heartbeat.stop();
        QApplication::quit();
    });
    QTimer::singleShot(0, [&] {
        application.measuring = true;
        sinceBeat.start();
        heartbeat.start(kHeartbeatMs);
        batchTime.start();
        window.findChild<QPushButton*>(QStringLiteral("cmdSave"))->click();
    });
    QApplication::exec();

    const double seconds = static_cast<double>(batchTime.nsecsElapsed()) / 1e9;
    const double longestEventMs = static_cast<double>(application.longestNs) / 1e6;
    const double stallMs =
        std::max(0.0, static_cast<double>(longestGapNs) / 1e6 - static_cast<double>(kHeartbeatMs));
    std::printf("saves:                          %d\n", count);
    std::printf("batch:                          %.2f s\n", seconds);
    std::printf("events handled during batch:    %ld\n", application.events);
    std::printf("longest event handling:         %.2f ms (event type %d)\n", longestEventMs,
                application.longestType);
    std::printf("longest heartbeat stall:        %.2f ms (beyond the %d ms interval)\n", stallMs,
                kHeartbeatMs);
    std::printf("target:                         under %.0f ms: %s\n", kTargetMs,
                std::max(longestEventMs, stallMs) < kTargetMs ? "met" : "missed");
    std::printf("report:                         %s\n",
                qPrintable(report.section(QLatin1Char('\n'), 0, 0)));
    return 0;
}
