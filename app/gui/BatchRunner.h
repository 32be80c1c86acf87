#pragma once

#include "conversion/ConvertSaves.h"
#include "system/Process.h"

#include <QObject>
#include <thread>

// Runs one batch at a time on a thread of its own and reports its progress through signals
// delivered on the thread that owns the runner.
class BatchRunner : public QObject {
    Q_OBJECT

public:
    explicit BatchRunner(QObject* parent = nullptr);
    // Waits for a batch still running.
    ~BatchRunner() override;

    BatchRunner(const BatchRunner&) = delete;
    BatchRunner& operator=(const BatchRunner&) = delete;

    // Starts the batch; false when one is running already. runner must outlive the batch.
    bool start(ostrapel::BatchRequest request, ostrapel::Scn_Process& runner);
    // True from start() until finished() has been emitted.
    bool running() const { return running_; }

signals:
    void cursorMoved(int index);
    void finished(const ostrapel::BatchResult& result);

private:
    void complete(const ostrapel::BatchResult& result);

    std::thread thread_;
    bool running_ = false;
};
