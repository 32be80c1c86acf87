#pragma once

#include "conversion/ConvertSaves.h"
#include "system/Cancel.h"
#include "system/Process.h"

#include <QObject>
#include <memory>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

// Reads the listed saves' current versions on a thread of its own and hands each result to
// the thread that owns the reader, through signals. One reading at a time; stopping it ends
// the tool run under way and delivers nothing more.
class VersionReader : public QObject {
    Q_OBJECT

public:
    explicit VersionReader(QObject* parent = nullptr);
    // Stops a reading still under way.
    ~VersionReader() override;

    VersionReader(const VersionReader&) = delete;
    VersionReader& operator=(const VersionReader&) = delete;

    // Stops any reading under way, then starts reading the request's saves.
    void start(ostrapel::BatchRequest request);
    // Ends the reading under way and waits for its thread; no signal of it follows.
    void stop();
    // From start() until finished() has been emitted or stop() called.
    bool running() const { return running_; }

signals:
    void versionRead(int index, const ostrapel::FileOutcome& outcome);
    void finished();

private:
    friend class ReadingObserver;

    struct Inbox {
        std::vector<std::pair<int, ostrapel::FileOutcome>> read;
        bool done = false;
        bool wakeUpPending = false;
    };

    // On the reading thread.
    void post(int index, const ostrapel::FileOutcome* outcome);
    // On the owner's thread.
    Q_INVOKABLE void deliver();

    ostrapel::Scn_Process runner_;
    std::unique_ptr<ostrapel::CancelFlag> cancel_;
    std::thread thread_;
    bool running_ = false;
    std::mutex mutex_;
    Inbox inbox_;
};
