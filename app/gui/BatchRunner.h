#pragma once

#include "conversion/ConvertSaves.h"
#include "system/Cancel.h"
#include "system/Process.h"

#include <QObject>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

// Runs one batch at a time on a thread of its own and reports its progress through signals
// emitted on the thread that owns the runner. Everything the batch's thread hands over goes
// through a mutex; Qt only carries the wake-up.
class BatchRunner : public QObject {
    Q_OBJECT

public:
    explicit BatchRunner(QObject* parent = nullptr);
    // Waits for a batch still running.
    ~BatchRunner() override;

    BatchRunner(const BatchRunner&) = delete;
    BatchRunner& operator=(const BatchRunner&) = delete;

    // Starts the batch; false when one is running already. runner must outlive the batch.
    // The request's cancel flag is the runner's own.
    bool start(ostrapel::BatchRequest request, ostrapel::Scn_Process& runner);
    // Asks the running batch to stop: its tool run is ended and no new step starts.
    void cancel();
    // True from start() until finished() has been emitted.
    bool running() const { return running_; }

signals:
    void cursorMoved(int index);
    void finished(const ostrapel::BatchResult& result);

private:
    friend class QueuedObserver;

    struct Inbox {
        std::vector<int> cursorMoves;
        std::optional<ostrapel::BatchResult> result;
        bool wakeUpPending = false;
    };

    // On the batch's thread: adds to the inbox and wakes the owner's thread when needed.
    template <typename Change> void post(Change change);
    // On the owner's thread: hands the inbox's content on as signals.
    Q_INVOKABLE void deliver();

    std::thread thread_;
    std::unique_ptr<ostrapel::CancelFlag> cancel_;
    bool running_ = false;
    std::mutex mutex_;
    Inbox inbox_;
};
