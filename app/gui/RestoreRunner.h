#pragma once

#include "conversion/Backups.h"

#include <QObject>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

// Runs one restore at a time on a thread of its own and hands its result to the thread that
// owns the runner, as BatchRunner does for a batch.
class RestoreRunner : public QObject {
    Q_OBJECT

public:
    explicit RestoreRunner(QObject* parent = nullptr);
    // Waits for a restore still running.
    ~RestoreRunner() override;

    RestoreRunner(const RestoreRunner&) = delete;
    RestoreRunner& operator=(const RestoreRunner&) = delete;

    // Starts undoing the newest conversion of saveFolder; false when a restore runs already.
    bool start(std::string backupFolder, std::string saveFolder);
    // True from start() until finished() has been emitted.
    bool running() const { return running_; }

signals:
    void finished(const ostrapel::RestoreResult& result);

private:
    // On the owner's thread: hands the result on.
    Q_INVOKABLE void deliver();

    std::thread thread_;
    bool running_ = false;
    std::mutex mutex_;
    std::optional<ostrapel::RestoreResult> result_;
};
