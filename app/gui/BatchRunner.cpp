#include "BatchRunner.h"

#include <QMetaObject>
#include <utility>

// Hands the batch's progress to the runner.
class QueuedObserver final : public ostrapel::BatchObserver {
public:
    explicit QueuedObserver(BatchRunner& runner) : runner_(runner) {}

    void cursorMoved(std::size_t index) override {
        runner_.post([index](BatchRunner::Inbox& inbox) {
            inbox.cursorMoves.push_back(static_cast<int>(index));
        });
    }

private:
    BatchRunner& runner_;
};

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
    inbox_ = Inbox();
    cancel_ = std::make_unique<ostrapel::CancelFlag>();
    request.cancel = cancel_.get();
    thread_ = std::thread([this, request = std::move(request), &runner] {
        QueuedObserver observer(*this);
        ostrapel::BatchResult result = ostrapel::ConvertSaves(request, runner, &observer);
        post([&result](Inbox& inbox) { inbox.result = std::move(result); });
    });
    running_ = true;
    return true;
}

void BatchRunner::cancel() {
    if (running_ && cancel_) {
        cancel_->raise();
    }
}

template <typename Change> void BatchRunner::post(Change change) {
    std::lock_guard lock(mutex_);
    change(inbox_);
    if (!inbox_.wakeUpPending) {
        inbox_.wakeUpPending = true;
        // Posted under the lock, so the owner's thread sees the inbox no earlier than the event.
        QMetaObject::invokeMethod(this, "deliver", Qt::QueuedConnection);
    }
}

void BatchRunner::deliver() {
    Inbox inbox;
    {
        std::lock_guard lock(mutex_);
        inbox = std::exchange(inbox_, Inbox());
    }
    for (int index : inbox.cursorMoves) {
        emit cursorMoved(index);
    }
    if (inbox.result) {
        thread_.join();
        running_ = false;
        emit finished(*inbox.result);
    }
}
