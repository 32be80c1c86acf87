#include "VersionReader.h"

class ReadingObserver final : public ostrapel::BatchObserver {
public:
    explicit ReadingObserver(VersionReader& reader) : reader_(reader) {}

    void fileFinished(std::size_t index, const ostrapel::FileOutcome& outcome) override {
        reader_.Post(index, &outcome);
    }

private:
    VersionReader& reader_;
};

VersionReader::~VersionReader() {
    Stop();
}

void VersionReader::Start(ostrapel::BatchRequest request, HWND window, UINT message) {
    Stop();
    window_ = window;
    message_ = message;
    cancel_ = std::make_unique<ostrapel::CancelFlag>();
    request.cancel = cancel_.get();
    running_ = true;
    thread_ = std::thread([this, request = std::move(request)] {
        ReadingObserver observer(*this);
        (void)ostrapel::ReadSaveVersions(request, runner_, &observer);
        Post(0, nullptr);
    });
}

void VersionReader::Stop() {
    if (cancel_) {
        cancel_->raise();
    }
    if (thread_.joinable()) {
        thread_.join();
    }
    running_ = false;
    std::lock_guard lock(mutex_);
    inbox_ = Delivery();
    // A wake-up still queued finds the inbox empty, or a later reading's results.
    wakeUpPending_ = false;
}

void VersionReader::Post(std::size_t index, const ostrapel::FileOutcome* outcome) {
    std::lock_guard lock(mutex_);
    if (outcome != nullptr) {
        inbox_.read.emplace_back(index, *outcome);
    } else {
        inbox_.ended = true;
    }
    if (!wakeUpPending_) {
        wakeUpPending_ = true;
        ::PostMessageW(window_, message_, 0, 0);
    }
}

VersionReader::Delivery VersionReader::Take() {
    Delivery delivery;
    {
        std::lock_guard lock(mutex_);
        delivery = std::exchange(inbox_, Delivery());
        wakeUpPending_ = false;
    }
    if (delivery.ended) {
        if (thread_.joinable()) {
            thread_.join();
        }
        running_ = false;
    }
    return delivery;
}
