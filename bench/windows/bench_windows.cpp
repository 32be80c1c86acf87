// The Windows build under its real conditions: converts N saves with a cipher tool that does
// next to nothing and compares the time per save with a floor timed in the same run, the same
// number of bare CreateProcessW starts of a program that does nothing. Also the cost of one
// start with each way of keeping a console window from showing.
//   bench_windows [N]   (default 100)

#include "conversion/ConvertSaves.h"
#include "system/FileSystem.h"
#include "system/Paths.h"
#include "system/Process.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>
#include <windows.h>

using Clock = std::chrono::steady_clock;

namespace {

// Tool runs per save: decipher, encipher, and the check that deciphers the result again.
constexpr std::size_t kRunsPerSave = 3;

void Check(bool ok, const char* what) {
    if (!ok) {
        std::fprintf(stderr, "bench: %s failed\n", what);
        std::exit(1);
    }
}

std::wstring Wide(const std::string& utf8) {
    const int length = ::MultiByteToWideChar(CP_UTF8, 0, utf8.c_str(), -1, nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(length), L'\0');
    ::MultiByteToWideChar(CP_UTF8, 0, utf8.c_str(), -1, wide.data(), length);
    wide.resize(wide.size() - 1);
    return wide;
}

std::string HostPath(std::string path) {
    // Built on the host, run under Wine: the host's root is the Z: drive there.
    if (!path.empty() && path.front() == '/') {
        for (char& c : path) {
            c = c == '/' ? '\\' : c;
        }
        path = "Z:" + path;
    }
    return path;
}

// Milliseconds for count starts of program, each waited for.
double TimeStarts(const std::string& program, std::size_t count, DWORD flags, bool hidden) {
    const auto start = Clock::now();
    for (std::size_t i = 0; i < count; ++i) {
        std::wstring line = L"\"" + Wide(program) + L"\" ";
        STARTUPINFOW startup{};
        startup.cb = sizeof startup;
        if (hidden) {
            startup.dwFlags = STARTF_USESHOWWINDOW;
            startup.wShowWindow = SW_HIDE;
        }
        PROCESS_INFORMATION started{};
        Check(::CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, flags, nullptr,
                               nullptr, &startup, &started) != FALSE,
              "CreateProcessW");
        ::WaitForSingleObject(started.hProcess, INFINITE);
        ::CloseHandle(started.hThread);
        ::CloseHandle(started.hProcess);
    }
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

} // namespace

int main(int argc, char** argv) {
    const std::size_t count = argc > 1 ? std::strtoul(argv[1], nullptr, 10) : 100;
    Check(count > 0, "the count");
    const std::string noop = HostPath(OSTRAPEL_NOOP_PROGRAM);
    const std::string tool = HostPath(OSTRAPEL_MINIMAL_TOOL);

    wchar_t temp[MAX_PATH];
    ::GetTempPathW(MAX_PATH, temp);
    std::string tempUtf8(MAX_PATH * 3, '\0');
    tempUtf8.resize(static_cast<std::size_t>(::WideCharToMultiByte(
                        CP_UTF8, 0, temp, -1, tempUtf8.data(), static_cast<int>(tempUtf8.size()),
                        nullptr, nullptr)) -
                    1);
    const std::string root =
        ostrapel::JoinPath(tempUtf8, "ostrapel-bench-" + std::to_string(::GetCurrentProcessId()));
    const std::string app = ostrapel::JoinPath(root, "app") + "\\";
    const std::string saves = ostrapel::JoinPath(root, "saves");
    for (const std::string& folder : {root, app, app + "Decrypt", app + "Decrypt\\temp", saves}) {
        Check(ostrapel::MakeDirectory(folder).ok(), "making the folders");
    }
    Check(::CopyFileW(Wide(tool).c_str(), Wide(app + "Decrypt\\decrypt.exe").c_str(), FALSE) !=
              FALSE,
          "copying the tool");
    std::vector<std::string> names;
    const std::string content(4096, 's');
    for (std::size_t i = 0; i < count; ++i) {
        names.push_back("save" + std::to_string(i) + ".sav");
        Check(ostrapel::WriteBytesAt(ostrapel::JoinPath(saves, names.back()), 0, content).ok(),
              "writing a save");
    }

    // What keeping the tool's console window away costs per start (from this console program,
    // each flag as the window would use it).
    const std::size_t probes = 40;
    std::printf("start of a no-op program, %zu each, ms per start:\n", probes);
    for (auto [name, flags] : {std::pair<const char*, DWORD>{"no flag (shares the console)", 0},
                               {"CREATE_NO_WINDOW", CREATE_NO_WINDOW},
                               {"DETACHED_PROCESS", DETACHED_PROCESS},
                               {"CREATE_NEW_CONSOLE, hidden", CREATE_NEW_CONSOLE}}) {
        std::printf("  %-30s %7.2f\n", name, TimeStarts(noop, probes, flags, true) / probes);
    }

    // Batches and floors take turns, so a machine that gets busier or quieter meanwhile
    // weighs on both alike.
    const std::size_t rounds = std::min<std::size_t>(5, count);
    double batch = 0;
    double floor = 0;
    double runnerFlags = 0;
    ostrapel::Scn_Process runner;
    for (std::size_t round = 0; round < rounds; ++round) {
        const std::size_t first = count * round / rounds;
        const std::size_t last = count * (round + 1) / rounds;
        const std::vector<std::string> part(names.begin() + static_cast<std::ptrdiff_t>(first),
                                            names.begin() + static_cast<std::ptrdiff_t>(last));
        floor += TimeStarts(noop, part.size() * kRunsPerSave, 0, false);
        const auto batchStart = Clock::now();
        ostrapel::BatchResult result = ostrapel::ConvertSaves({saves, part, app, "200"}, runner);
        batch += std::chrono::duration<double, std::milli>(Clock::now() - batchStart).count();
        Check(result.allChanged(), "the batch");
        // The same starts with the flag the runner uses, so the ratio is not flattered by it.
        runnerFlags += TimeStarts(noop, part.size() * kRunsPerSave, CREATE_NO_WINDOW, false);
    }
    const std::size_t starts = count * kRunsPerSave;
    const auto perSave = [count](double ms) { return ms / static_cast<double>(count); };
    std::printf("saves: %zu in %zu rounds, tool runs: %zu\n", count, rounds, starts);
    std::printf("batch: %.2f ms per save\n", perSave(batch));
    std::printf("floor: %.2f ms per save (%zu bare CreateProcessW starts of a no-op program)\n",
                perSave(floor), kRunsPerSave);
    std::printf("ratio: %.3f (goal <= 1.10)\n", batch / floor);
    std::printf("floor with CREATE_NO_WINDOW, as the runner starts the tool: %.2f ms per save, "
                "ratio %.3f\n",
                perSave(runnerFlags), batch / runnerFlags);

    for (const std::string& folder : {saves, app + "Decrypt\\temp", app + "Decrypt"}) {
        (void)ostrapel::RemoveFilesIn(folder);
    }
    for (const std::string& folder : {app + "Decrypt\\temp", app + "Decrypt", app, saves, root}) {
        (void)ostrapel::RemoveEmptyDirectory(folder);
    }
    return 0;
}
