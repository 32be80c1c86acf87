// How long the Win32 window goes without handling its messages while the versions of many saves
// are read, and while a batch of them runs (started while their versions are being read).
//   bench_win32_latency [N] [long]   (default 100 saves; under Wine it wants a display, e.g.
//   xvfb-run; "long": names such as Autosave_Chapter03_Checkpoint_123.sav, and a few files that
//   are not saves)
// Prints, for each, the longest single message dispatch of the window's message loop and the
// longest stall of a 5 ms heartbeat timer, against a target of 16 ms (one frame at 60 Hz). The
// cipher tool is the least one (minimal_decrypt.cpp), so the figures are the window's, not the
// tool's. Also counted, for each: how often the file list or its frame's caption was blanked
// (the list erased, the caption cleared by a new text) and how often rows were drawn.

#include "conversion/Backups.h"
#include "frmMain.h"
#include "system/FileSystem.h"
#include "system/Paths.h"

#include <algorithm>
#include <chrono>
#include <commctrl.h>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <map>
#include <objbase.h>
#include <string>
#include <vector>
#undef SetCurrentDirectory

namespace {

using Clock = std::chrono::steady_clock;

constexpr UINT kHeartbeatMs = 5;
constexpr double kTargetMs = 16.0;

double Ms(Clock::duration duration) {
    return std::chrono::duration<double, std::milli>(duration).count();
}

[[noreturn]] void Fail(const char* what) {
    std::fprintf(stderr, "bench: %s failed\n", what);
    std::exit(1);
}

std::wstring Wide(const std::string& utf8) {
    std::wstring wide(utf8.size(), L'\0');
    wide.resize(static_cast<std::size_t>(
        ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), wide.data(),
                              static_cast<int>(wide.size()))));
    return wide;
}

std::string Utf8(const std::wstring& wide) {
    const int length =
        ::WideCharToMultiByte(CP_UTF8, 0, wide.c_str(), -1, nullptr, 0, nullptr, nullptr);
    std::string utf8(static_cast<std::size_t>(length), '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, wide.c_str(), -1, utf8.data(), length, nullptr, nullptr);
    utf8.resize(utf8.size() - 1);
    return utf8;
}

// The heartbeat: the gaps between its ticks.
Clock::time_point lastBeat;
Clock::duration longestGap{};
// How long the loop spent dispatching since the last tick, and in the longest gap.
Clock::duration busySinceBeat{};
Clock::duration busyInLongestGap{};
std::vector<Clock::duration>* gaps = nullptr;

void CALLBACK Beat(HWND, UINT, UINT_PTR, DWORD) {
    const Clock::time_point now = Clock::now();
    if (now - lastBeat > longestGap) {
        longestGap = now - lastBeat;
        busyInLongestGap = busySinceBeat;
    }
    if (gaps != nullptr) {
        gaps->push_back(now - lastBeat);
    }
    lastBeat = now;
    busySinceBeat = {};
}

// What starts a phase, run from a message of the loop so that its own time is measured too.
std::function<void()> starting;
bool started = false;

void CALLBACK Start(HWND, UINT, UINT_PTR timer, DWORD) {
    ::KillTimer(nullptr, timer);
    started = true;
    starting();
}

// What the list and its frame were made to draw, counted by a window procedure put before each
// one's own (not a subclass through the common controls: under Wine every message through such
// a subclass asks the server for the window's properties, which the program would not pay).
struct Drawing {
    long listErased = 0;     // the list's background painted over its rows
    long captionCleared = 0; // a new caption set while the frame was drawn
    long captionSet = 0;     // a new caption set at all
    std::map<UINT, long> rowDraws;
};
Drawing drawing;

HWND countedList = nullptr;
WNDPROC listProc = nullptr;
WNDPROC frameProc = nullptr;

LRESULT CALLBACK CountDrawing(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    const bool list = hwnd == countedList;
    if (message == WM_ERASEBKGND && list) {
        ++drawing.listErased;
    } else if (message == WM_SETTEXT && !list) {
        ++drawing.captionSet;
        drawing.captionCleared += ::IsWindowVisible(hwnd) ? 1 : 0;
    } else if (message == WM_DRAWITEM && !list) {
        const auto* item = reinterpret_cast<const DRAWITEMSTRUCT*>(lParam);
        if (item->itemAction == ODA_DRAWENTIRE || item->itemAction == ODA_SELECT) {
            ++drawing.rowDraws[item->itemID];
        }
    }
    return ::CallWindowProcW(list ? listProc : frameProc, hwnd, message, wParam, lParam);
}

// The window procedure CountDrawing goes before.
WNDPROC CountDrawingOf(HWND window) {
    return reinterpret_cast<WNDPROC>(
        ::SetWindowLongPtrW(window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&CountDrawing)));
}

struct Phase {
    double seconds = 0;
    long messages = 0;
    double startMs = 0;           // the dispatch that ran start()
    double longestDispatchMs = 0; // of the others
    UINT longestMessage = 0;
    double longestGapMs = 0;
    double busyInLongestGapMs = 0;
    Drawing drawn;
};

// Runs the window's message loop, as ostrapel.exe does, timing every dispatch, from start()
// until done() holds.
Phase Measure(HWND window, const std::function<void()>& start, const std::function<bool()>& done) {
    Phase phase;
    longestGap = {};
    busySinceBeat = {};
    busyInLongestGap = {};
    drawing = {};
    starting = start;
    const Clock::time_point begun = Clock::now();
    lastBeat = begun;
    const UINT_PTR heartbeat = ::SetTimer(nullptr, 0, kHeartbeatMs, &Beat);
    started = false;
    ::SetTimer(nullptr, 0, 0, &Start);
    while (!started || !done()) {
        if (Clock::now() - begun > std::chrono::minutes(10)) {
            Fail("waiting for the window");
        }
        MSG message;
        if (::GetMessageW(&message, nullptr, 0, 0) <= 0) {
            Fail("the message loop");
        }
        const bool wasStarted = started;
        const Clock::time_point before = Clock::now();
        if (!::IsDialogMessageW(window, &message)) {
            ::TranslateMessage(&message);
            ::DispatchMessageW(&message);
        }
        const Clock::duration took = Clock::now() - before;
        busySinceBeat += took;
        ++phase.messages;
        if (!wasStarted && started) {
            phase.startMs = Ms(took);
        } else if (Ms(took) > phase.longestDispatchMs) {
            phase.longestDispatchMs = Ms(took);
            phase.longestMessage = message.message;
        }
    }
    ::KillTimer(nullptr, heartbeat);
    // The gap since the last tick counts too: the end may follow a long dispatch.
    Beat(nullptr, 0, 0, 0);
    phase.seconds = Ms(Clock::now() - begun) / 1000.0;
    phase.longestGapMs = Ms(longestGap);
    phase.busyInLongestGapMs = Ms(busyInLongestGap);
    phase.drawn = drawing;
    return phase;
}

// The heartbeat's interval when the window is idle: the system may not keep 5 ms (Windows
// rounds a timer up to 10 ms at least), and a stall is counted beyond what it does keep.
double IdleIntervalMs() {
    std::vector<Clock::duration> seen;
    gaps = &seen;
    lastBeat = Clock::now();
    const UINT_PTR heartbeat = ::SetTimer(nullptr, 0, kHeartbeatMs, &Beat);
    const Clock::time_point until = Clock::now() + std::chrono::milliseconds(500);
    while (Clock::now() < until) {
        MSG message;
        if (::GetMessageW(&message, nullptr, 0, 0) <= 0) {
            Fail("the message loop");
        }
        ::TranslateMessage(&message);
        ::DispatchMessageW(&message);
    }
    ::KillTimer(nullptr, heartbeat);
    gaps = nullptr;
    if (seen.size() < 3) {
        Fail("the heartbeat");
    }
    seen.erase(seen.begin()); // from the start to the first tick
    std::sort(seen.begin(), seen.end());
    return Ms(seen[seen.size() / 2]);
}

} // namespace

int wmain(int argc, wchar_t** argv) {
    const int count = argc > 1 ? std::atoi(Utf8(argv[1]).c_str()) : 100;
    if (count <= 0) {
        Fail("reading N");
    }
    (void)::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    INITCOMMONCONTROLSEX controls{sizeof controls, ICC_STANDARD_CLASSES | ICC_WIN95_CLASSES};
    ::InitCommonControlsEx(&controls);

    wchar_t temp[MAX_PATH];
    ::GetTempPathW(MAX_PATH, temp);
    const std::string root = ostrapel::JoinPath(
        Utf8(temp), "ostrapel-bench-latency-" + std::to_string(::GetCurrentProcessId()));
    const std::string app = ostrapel::JoinPath(root, "app");
    const std::string saves = ostrapel::JoinPath(root, "saves");
    // app\Backups makes the program folder portable: the backups stay in the temporary folder.
    for (const std::string& folder :
         {root, app, ostrapel::JoinPath(app, "Decrypt"), ostrapel::JoinPath(app, "Decrypt\\temp"),
          ostrapel::JoinPath(app, ostrapel::kPortableBackupFolder), saves}) {
        if (!ostrapel::MakeDirectory(folder)) {
            Fail("preparing the folders");
        }
    }
    if (!::CopyFileW(Wide(OSTRAPEL_MINIMAL_TOOL).c_str(),
                     Wide(ostrapel::JoinPath(app, "Decrypt\\decrypt.exe")).c_str(), FALSE)) {
        Fail("copying the cipher tool");
    }
    const bool longNames = argc > 2 && std::wstring(argv[2]) == L"long";
    // Saves at 1.00 (the least tool leaves the field as it is), so the batch converts them all.
    std::string content(4096, 's');
    content[788] = 'd';
    content[789] = '\0';
    for (int i = 0; i < count; ++i) {
        const std::string name = longNames ? "Autosave_Chapter" + std::to_string(10 + i % 9) +
                                                 "_Checkpoint_" + std::to_string(100 + i) + ".sav"
                                           : "save" + std::to_string(i) + ".sav";
        if (!ostrapel::WriteBytesAt(ostrapel::JoinPath(saves, name), 0, content)) {
            Fail("writing the saves");
        }
    }
    for (int i = 0; longNames && i < 7; ++i) {
        if (!ostrapel::WriteBytesAt(
                ostrapel::JoinPath(saves, "notes_" + std::to_string(i) + ".txt"), 0, "notes")) {
            Fail("writing the other files");
        }
    }

    Phase reading;
    Phase batch;
    double idleMs = 0;
    std::wstring report;
    {
        frmMain window(::GetModuleHandleW(nullptr), app,
                       std::make_shared<mdlSHBrowseForFolder::FixedFolderChooser>(saves), false);
        window.setReportPresenter([&report](HWND, const ostrapel::ReportBox& box) {
            const std::string text = box.Compose().text;
            report = Wide(text.substr(0, text.find('\n')));
        });
        ::ShowWindow(window.Handle(), SW_SHOWNORMAL);
        ::UpdateWindow(window.Handle());
        // The first paint belongs to start-up, not to what is measured.
        idleMs = IdleIntervalMs();
        HWND combo = window.Control(frmMain::kComboDLC);
        ::SendMessageW(combo, CB_SETCURSEL, 2, 0);
        ::SendMessageW(window.Handle(), WM_COMMAND, MAKEWPARAM(frmMain::kComboDLC, CBN_SELCHANGE),
                       reinterpret_cast<LPARAM>(combo));
        HWND list = window.Control(frmMain::kList);
        countedList = list;
        listProc = CountDrawingOf(list);
        frameProc = CountDrawingOf(::GetParent(list));
        HWND open = window.Control(frmMain::kCmdOpen);
        HWND save = window.Control(frmMain::kCmdSave);

        // The open button lists the folder, and the versions are read off the window's thread.
        reading = Measure(
            window.Handle(), [open] { ::SendMessageW(open, BM_CLICK, 0, 0); },
            [&window] { return !window.Model().ReadingVersions(); });
        // The folder listed again, and the save button pressed while its versions are being
        // read: the reading is stopped and the batch runs off the window's thread too.
        batch = Measure(
            window.Handle(),
            [open, save] {
                ::SendMessageW(open, BM_CLICK, 0, 0);
                ::PostMessageW(save, BM_CLICK, 0, 0);
            },
            [&window, begun = false]() mutable {
                begun = begun || window.Model().BatchRunning();
                return begun && !window.Model().BatchRunning();
            });
    }

    std::printf("saves:                          %d\n", count);
    std::printf("heartbeat:                      %u ms asked, %.2f ms kept when idle\n",
                kHeartbeatMs, idleMs);
    const std::pair<const char*, const Phase*> phases[] = {{"reading versions", &reading},
                                                           {"batch", &batch}};
    bool met = true;
    for (const auto& [what, phase] : phases) {
        const double stallMs = std::max(0.0, phase->longestGapMs - idleMs);
        std::printf("-- %s\n", what);
        std::printf("time:                           %.2f s\n", phase->seconds);
        std::printf("messages dispatched:            %ld\n", phase->messages);
        std::printf("the click that starts it:       %.2f ms\n", phase->startMs);
        std::printf("longest dispatch after it:      %.2f ms (message 0x%04X)\n",
                    phase->longestDispatchMs, phase->longestMessage);
        std::printf("longest heartbeat stall:        %.2f ms (beyond the %.2f ms interval; "
                    "%.2f ms of the gap dispatching)\n",
                    stallMs, idleMs, phase->busyInLongestGapMs);
        long rowDraws = 0;
        long mostOfOneRow = 0;
        for (const auto& [row, times] : phase->drawn.rowDraws) {
            rowDraws += times;
            mostOfOneRow = std::max(mostOfOneRow, times);
        }
        std::printf("list erased (blank rows):       %ld\n", phase->drawn.listErased);
        std::printf("captions set, cleared first:    %ld, %ld\n", phase->drawn.captionSet,
                    phase->drawn.captionCleared);
        std::printf("rows drawn:                     %ld over %zu rows, at most %ld times one\n",
                    rowDraws, phase->drawn.rowDraws.size(), mostOfOneRow);
        met = met && std::max({phase->startMs, phase->longestDispatchMs, stallMs}) < kTargetMs;
    }
    std::printf("target:                         under %.0f ms in both: %s\n", kTargetMs,
                met ? "met" : "missed");
    std::printf("report:                         %s\n", Utf8(report).c_str());

    (void)ostrapel::SetCurrentDirectory(Utf8(temp));
    std::error_code ignored;
    std::filesystem::remove_all(std::filesystem::path(Wide(root)), ignored);
    ::CoUninitialize();
    return 0;
}
