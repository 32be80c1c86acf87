#include "RestoreRunner.h"

#include <QMetaObject>
#include <utility>

RestoreRunner::RestoreRunner(QObject* parent) : QObject(parent) {}

RestoreRunner::~RestoreRunner() {
    if (thread_.joinable()) {
        thread_.join();
    }
}

bool RestoreRunner::start(std::string backupFolder, std::string saveFolder) {
    if (running_) {
        return false;
    }
    if (thread_.joinable()) {
        thread_.join();
    }
    result_.reset();
    thread_ = std::thread([this, backupFolder = std::move(backupFolder),
                           saveFolder = std::move(saveFolder)] {
        ostrapel::RestoreResult result = ostrapel::RestoreLastConversion(backupFolder, saveFolder);
        std::lock_guard lock(mutex_);
        result_ = std::move(result);
        // Posted under the lock, so the owner's thread sees the result no earlier than the event.
        QMetaObject::invokeMethod(this, "deliver", Qt::QueuedConnection);
    });
    running_ = true;
    return true;
}

void RestoreRunner::deliver() {
    std::optional<ostrapel::RestoreResult> result;
    {
        std::lock_guard lock(mutex_);
        result = std::exchange(result_, std::nullopt);
    }
    if (!result) {
        return;
    }
    thread_.join();
    running_ = false;
    emit finished(*result);
}
