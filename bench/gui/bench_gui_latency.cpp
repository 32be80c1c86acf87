// How long the window goes without handling its events while the versions of many saves are
// read, and while a batch of them runs (started while their versions are being read).
//   bench_gui_latency [N]   (default 500 saves; offscreen unless QT_QPA_PLATFORM says otherwise)
// Prints, for each, the longest single event dispatch and the longest stall of a 5 ms heartbeat
// timer, against a target of 16 ms (one frame at 60 Hz).

#include "Report.h"
#include "frmMain.h"

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>
#include <QWindow>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <functional>

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
    // Saves at 1.00, so the batch converts them all.
    QByteArray content(4096, 's');
    content[788] = 'd';
    content[789] = '\0';
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
        report = QString::fromStdString(FullReport(result));
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
    auto* open = window.findChild<QPushButton*>(QStringLiteral("cmdOpen"));
    auto* save = window.findChild<QPushButton*>(QStringLiteral("cmdSave"));
    window.findChild<QComboBox*>(QStringLiteral("ComboDLC"))->setCurrentIndex(2);

    struct Phase {
        double seconds = 0;
        long events = 0;
        double longestEventMs = 0;
        int longestType = 0;
        double stallMs = 0;
    };
    // Measures the window from start() until done is emitted.
    auto measure = [&](const std::function<void()>& start, auto done) {
        QEventLoop loop;
        QElapsedTimer sinceBeat;
        qint64 longestGapNs = 0;
        QTimer heartbeat;
        heartbeat.setTimerType(Qt::PreciseTimer);
        QObject::connect(&heartbeat, &QTimer::timeout, [&] {
            longestGapNs = std::max(longestGapNs, sinceBeat.nsecsElapsed());
            sinceBeat.restart();
        });
        QElapsedTimer elapsed;
        const QMetaObject::Connection ended = QObject::connect(&window, done, &loop, [&] {
            application.measuring = false;
            heartbeat.stop();
            loop.quit();
        });
        application.longestNs = 0;
        application.events = 0;
        QTimer::singleShot(0, [&] {
            application.measuring = true;
            sinceBeat.start();
            heartbeat.start(kHeartbeatMs);
            elapsed.start();
            start();
        });
        loop.exec();
        QObject::disconnect(ended);
        Phase phase;
        phase.seconds = static_cast<double>(elapsed.nsecsElapsed()) / 1e9;
        phase.events = application.events;
        phase.longestEventMs = static_cast<double>(application.longestNs) / 1e6;
        phase.longestType = application.longestType;
        phase.stallMs = std::max(0.0, static_cast<double>(longestGapNs) / 1e6 -
                                          static_cast<double>(kHeartbeatMs));
        return phase;
    };

    // The open button lists the folder, and the versions are read off the window's thread.
    const Phase reading = measure([&] { open->click(); }, &frmMain::versionsRead);
    // The folder listed again, and the save button pressed while its versions are being read:
    // the reading is stopped and the batch runs.
    const Phase batch = measure(
        [&] {
            open->click();
            QTimer::singleShot(1, save, &QPushButton::click);
        },
        &frmMain::batchFinished);

    std::printf("saves:                          %d\n", count);
    const std::pair<const char*, const Phase*> phases[] = {{"reading versions", &reading},
                                                           {"batch", &batch}};
    bool met = true;
    for (const auto& [what, phase] : phases) {
        std::printf("-- %s\n", what);
        std::printf("time:                           %.2f s\n", phase->seconds);
        std::printf("events handled:                 %ld\n", phase->events);
        std::printf("longest event handling:         %.2f ms (event type %d)\n",
                    phase->longestEventMs, phase->longestType);
        std::printf("longest heartbeat stall:        %.2f ms (beyond the %d ms interval)\n",
                    phase->stallMs, kHeartbeatMs);
        met = met && std::max(phase->longestEventMs, phase->stallMs) < kTargetMs;
    }
    std::printf("target:                         under %.0f ms in both: %s\n", kTargetMs,
                met ? "met" : "missed");
    std::printf("report:                         %s\n",
                qPrintable(report.section(QLatin1Char('\n'), 0, 0)));
    return 0;
}
