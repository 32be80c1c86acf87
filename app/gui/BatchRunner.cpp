#include "BatchRunner.h"

#include <QMetaObject>
#include <utility>

namespace {

// Forwards the batch's progress to the runner's thread.
class QueuedObserver final : public ostrapel::BatchObserver {
public:
    explicit QueuedObserver(BatchRunner* runner) : runner_(runner) {}

    void cursorMoved(std::size_t index) override {
        const int row = static_cast<int>(index);
        BatchRunner* runner = runner_;
        QMetaObject::invokeMethod(
            runner, [runner, row] { emit runner->cursorMoved(row); }, Qt::QueuedConnection);
    }

private:
    BatchRunner* runner_;
};

} // namespace

BatchRunner::BatchRunner(QObject* parent) : QObject(parent) {}

BatchRunner::~BatchRunner() {
    if (thread_.joinable()) {
        thread_.join();
    }
}

bool BatchRunner::start(ostrapel::BatchRequest request, ostrapel::Scn_Process& runner) {
    if (running_) {
        return false;
    }
    if (thread_.joinable()) {
        thread_.join();
    }
    thread_ = std::thread([this, request = std::move(request), &runner] {
        QueuedObserver observer(this);
        ostrapel::BatchResult result = ostrapel::ConvertSaves(request, runner, &observer);
        QMetaObject::invokeMethod(
            this, [this, result = std::move(result)] { complete(result); }, Qt::QueuedConnection);
    });
    running_ = true;
    return true;
}

void BatchRunner::complete(const ostrapel::BatchResult& result) {
    thread_.join();
    running_ = false;
    emit finished(result);
}
