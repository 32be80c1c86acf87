#pragma once

#include "conversion/ConvertSaves.h"
#include "system/Cancel.h"
#include "system/Process.h"

#include <cstddef>
#include <memory>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>
#include <windows.h>

// Reads the listed saves' current versions on a thread of its own. Each result is kept for the
// window's thread, woken by a message posted to the window; Take() collects them there. One
// reading at a time; stopping it ends the tool run under way and delivers nothing more.
class VersionReader {
public:
    // What has been read since the last Take(), and whether the reading has ended.
    struct Delivery {
        std::vector<std::pair<std::size_t, ostrapel::FileOutcome>> read;
        bool ended = false;
    };

    VersionReader() = default;
    // Stops a reading still under way.
    ~VersionReader();
    VersionReader(const VersionReader&) = delete;
    VersionReader& operator=(const VersionReader&) = delete;

    // Stops any reading under way, then starts reading the request's saves; message is posted
    // to window when there is something to take.
    void Start(ostrapel::BatchRequest request, HWND window, UINT message);
    // Ends the reading under way and waits for its thread; nothing of it is delivered after.
    void Stop();
    // On the window's thread, when the message arrives.
    Delivery Take();
    // From Start() until Take() has delivered the end, or Stop().
    bool Running() const { return running_; }

private:
    friend class ReadingObserver;

    // On the reading thread: keeps a result (or the end, outcome null) and wakes the window.
    void Post(std::size_t index, const ostrapel::FileOutcome* outcome);

    ostrapel::Scn_Process runner_;
    std::unique_ptr<ostrapel::CancelFlag> cancel_;
    std::thread thread_;
    bool running_ = false;
    HWND window_ = nullptr;
    UINT message_ = 0;

    std::mutex mutex_;
    Delivery inbox_;
    bool wakeUpPending_ = false;
};
