#pragma once

#include "system/Phrase.h"

#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace ostrapel {

// A program and the arguments it receives, each exactly as meant.
struct CommandLine {
    std::string program;
    std::vector<std::string> arguments;
    // The Windows command-line text it was read from, handed to a Windows program unchanged.
    std::optional<std::string> line = std::nullopt;
    bool operator==(const CommandLine&) const = default;
};

// The Windows command-line text for a command: the program and each argument in double
// quotes, separated by blanks and followed by one. A "/switch:" at the start of an argument
// stays before the quotes: "C:\t\decrypt.exe" /decrypt:"C:\t\temp\a.sav"
// The command's own line, when it has one, as it is.
// Empty when the command cannot be written (a NUL anywhere, a quote in the program).
std::optional<std::string> BuildWindowsCommandLine(const CommandLine& command);

// Splits a Windows command-line text the way the platform's C runtime does.
CommandLine ParseWindowsCommandLine(const std::string& text);

// The platform's name of a signal ("Killed"); Windows has none and says "signal".
std::string SignalName(int signal);

// Whether an exit code is the code of an exception that ended a Windows program: an NTSTATUS
// error (0xC0000000 to 0xCFFFFFFF) or one of the other exception codes CrashName knows.
bool IsCrashCode(int exitCode);

// "access violation, 0xC0000005" for a well-known exception code; "0xC0001234" for others.
std::string CrashName(int exitCode);
// The same as a phrase, the name from the catalogue and the code as it is.
Phrase CrashPhrase(int exitCode);

class CancelFlag;
class WineRunner;

// Bounds on one run: a time limit, and a flag that ends the run early; and, where given, the
// places of the run's own: its working folder, and its temporary folder (TMPDIR; TEMP and TMP
// for a Windows program, natively and through Wine). Empty: this program's own.
struct RunLimits {
    std::chrono::milliseconds timeLimit{0}; // none when zero
    const CancelFlag* cancel = nullptr;
    std::string workingFolder = {};
    std::string temporaryFolder = {};
};

struct ProcessOutcome {
    // TimedOut and Cancelled: the program was ended, with everything it had started.
    enum class Kind { NotStarted, Exited, Signaled, TimedOut, Cancelled };

    Kind kind = Kind::NotStarted;
    int exitCode = 0;                       // when Exited
    int signal = 0;                         // when Signaled
    Phrase error;                           // when NotStarted: why
    std::string output;                     // the last kOutputKept bytes the program wrote
    std::chrono::milliseconds timeLimit{0}; // when TimedOut: the limit it ran into

    static constexpr std::size_t kOutputKept = 4096;

    bool succeeded() const { return kind == Kind::Exited && exitCode == 0; }
    // Whether a Windows program ended by an exception it did not handle (IsCrashCode).
    bool crashed() const { return kind == Kind::Exited && IsCrashCode(exitCode); }
    // "exit code 3", "crashed (access violation, 0xC0000005)", "killed by signal 9 (Killed)",
    // "could not be started: ...", "did not finish within 120 s", "cancelled"; the system's words
    // (why it could not be started, a signal's name) verbatim.
    Phrase phrase() const;
    // The last non-empty line of the output, at most maxLength characters.
    std::string lastOutputLine(std::size_t maxLength = 200) const;
};

// Starts programs and waits for them. No shell is involved: arguments reach the program as
// they are. The child's standard input is empty; what it prints is kept in the outcome.
// A program runs with everything it starts in a group of its own (a process group; a job
// object on Windows), and the whole group is ended when the program ends, runs out of time
// or is cancelled, so nothing it started outlives the run.
// Elsewhere than on Windows, a Windows program (IsWindowsProgram) runs under Wine through the
// bridge helper, and receives exactly the Windows command line of the command with its paths in
// Windows form; its exit code, output, time limit and cancel work as for any program. Safe to
// use from several threads at once.
class Scn_Process {
public:
    static constexpr int kHidden = 0;
    static constexpr int kMinimizedWithFocus = 2;

    // Runs the command and returns once it has ended, or at once when it cannot start.
    // WindowStyle is the platform's show-window style; only Windows has windows to show.
    ProcessOutcome Run_Process(const CommandLine& command, int WindowStyle = kMinimizedWithFocus,
                               const RunLimits& limits = {});

    // The same for a complete Windows command-line text, which a Windows program receives
    // unchanged; through Wine it is read as the platform's C runtime would, and its program and
    // paths are given in their Windows form, as for the other form.
    ProcessOutcome Run_Process(const std::string& Path, int WindowStyle = kMinimizedWithFocus,
                               const RunLimits& limits = {});

    // The Wine bridge to use instead of the one found beside the running program
    // (WineBridgeFor). Takes effect for bridges started afterwards.
    void UseWineBridge(std::string path);

private:
    std::shared_ptr<WineRunner> Wine();

    std::string wineBridge_;
    std::shared_ptr<WineRunner> wine_; // started on first use; idle bridges live as long
};

struct RunningProgram {
    int id = 0;
    std::string executable; // empty when it cannot be told
};

// The running programs, other than this one, that hold the file or folder at path (resolved)
// open. Empty where the platform cannot tell.
std::vector<RunningProgram> ProgramsUsing(const std::string& path);

} // namespace ostrapel
