#include "VersionReader.h"

#include <QMetaObject>

class ReadingObserver final : public ostrapel::BatchObserver {
public:
    explicit ReadingObserver(VersionReader& reader) : reader_(reader) {}

    void fileFinished(std::size_t index, const ostrapel::FileOutcome& outcome) override {
        reader_.post(static_cast<int>(index), &outcome);
    }

private:
    VersionReader& reader_;
};

VersionReader::VersionReader(QObject* parent) : QObject(parent) {}

VersionReader::~VersionReader() {
    stop();
}

void VersionReader::start(ostrapel::BatchRequest request) {
    stop();
    cancel_ = std::make_unique<ostrapel::CancelFlag>();
    request.cancel = cancel_.get();
    running_ = true;
    thread_ = std::thread([this, request = std::move(request)] {
        ReadingObserver observer(*this);
        (void)ostrapel::ReadSaveVersions(request, runner_, &observer);
        post(-1, nullptr);
    });
}

void VersionReader::stop() {
    if (cancel_) {
        cancel_->raise();
    }
    if (thread_.joinable()) {
        thread_.join();
    }
    running_ = false;
    std::lock_guard lock(mutex_);
    inbox_.read.clear();
    inbox_.done = false;
}

void VersionReader::post(int index, const ostrapel::FileOutcome* outcome) {
    std::lock_guard lock(mutex_);
    if (outcome != nullptr) {
        inbox_.read.emplace_back(index, *outcome);
    } else {
        inbox_.done = true;
    }
    if (!inbox_.wakeUpPending) {
        inbox_.wakeUpPending = true;
        QMetaObject::invokeMethod(this, "deliver", Qt::QueuedConnection);
    }
}

void VersionReader::deliver() {
    Inbox inbox;
    {
        std::lock_guard lock(mutex_);
        inbox = std::exchange(inbox_, Inbox());
    }
    for (const auto& [index, outcome] : inbox.read) {
        emit versionRead(index, outcome);
    }
    if (inbox.done && running_) {
        thread_.join();
        running_ = false;
        emit finished();
    }
}
