// A stand-in for the external cipher tool, obeying its contract:
//   decrypt.exe /decrypt:PATH   or   decrypt.exe /encrypt:PATH
// replaces the file at PATH in place and leaves PATH.backup with its previous content.
//
// STAND_IN_CIPHER_LOG=FILE appends "decrypt NAME" or "encrypt NAME" per run.
// STAND_IN_CIPHER_PATH_LOG=FILE appends the PATH it was given per run.
// STAND_IN_CIPHER_FOLDER_LOG=FILE appends the folder the tool runs in (its current folder) per run.
// STAND_IN_CIPHER_BUSY=FILE makes a tool that cannot run beside itself: FILE exists while a run
// goes on, and a run that finds it there fails (exit 75) and leaves the file alone.
// STAND_IN_CIPHER_FAULTS holds rules separated by ';', each DIRECTION:ACTION:NAME with
// DIRECTION decrypt, encrypt or any; NAME a file name or '*'; ACTION one of
//   exit=N      print a complaint, leave the file, exit with N
//   signal=N    die by signal N
//   truncate=N  write only the first N bytes of the result, exit 0
//   nobackup    leave no side file
//   delete      delete the file, exit 0
//   hang        wait until killed (hang=MS: give up after MS milliseconds and exit 75,
//               so a hang outliving whoever meant to kill it ends by itself)
//   sleep=MS    sleep, then work as usual
//   pace=MS     write the result in eight pieces spread over about MS milliseconds
//   noop        do nothing, exit 0
//   lenient     decipher what has no header too, as a tool that validates nothing would
//   corrupt     flip one byte of the result, exit 0
//   linger=MS   leave a helper process behind that lives MS milliseconds after the run
//   crash       write where no program may: an access violation (SIGSEGV elsewhere)
// NAME#K matches only the K-th run of that direction on NAME, counted in the folder
// STAND_IN_CIPHER_STATE (a rule "decrypt:truncate=900:a.sav#1" cuts a.sav's first decipher).
// Every rule that matches applies, in order.
// STAND_IN_CIPHER_SALT=1 enciphers with a fresh random salt each run (StandInCipher.h), as
// tools with a salt or an IV do; either form is deciphered.
// STAND_IN_CIPHER_MODE picks another cipher:
//   padded  a random IV and block padding (StandInCipher.h), so lengths vary with the plain
//           length modulo 16; either form is deciphered
//   xor     a wrong tool: "deciphers" anything by mixing it with one byte, and enciphers alike
// STAND_IN_CIPHER_CACHE=FOLDER makes a tool that remembers earlier runs: a run on a file of a
// size it saw before in that direction gives what it gave then (FOLDER/DIRECTION-SIZE).
// The key byte of kKey below, '0' as built, changes the deterministic cipher when patched in the
// program file: a tool rewritten in place with another key and the same size.
// STAND_IN_CIPHER_SCRATCH=beside|folder|temp|PATH makes a tool that is sound alone but keeps
// one fixed scratch file beside itself, in its working folder, in the temporary folder (TMPDIR;
// TEMP or TMP on Windows) or at the absolute PATH: it copies its file there, waits
// STAND_IN_CIPHER_SCRATCH_MS milliseconds (default 50) and works on what the scratch file then
// holds.
//
// On Windows, STAND_IN_CIPHER_STRICT=1 refuses (exit 64) any command line but exactly
//   "TOOL" /decrypt:"PATH"   (or /encrypt:), one blank after each closing quote and nothing
// more, where TOOL is this program's own path.

#include "StandInCipher.h"

#include <algorithm>
#include <chrono>
#include <climits>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <string_view>
#include <thread>
#include <vector>
#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <unistd.h>
#endif

namespace {

// Patched in place by tests; volatile so that the byte is read from the program file.
volatile const char kKey[] = "OSTRAPEL-STAND-IN-KEY=0";

// The deterministic cipher with the key byte mixed in after the stand-in's own, keeping the
// header; key '0' is the stand-in's own cipher.
std::string Keyed(std::string text, std::size_t from) {
    const char key = kKey[sizeof kKey - 2];
    if (key != '0') {
        for (std::size_t i = from; i < text.size(); ++i) {
            text[i] = static_cast<char>(text[i] ^ (key * 37));
        }
    }
    return text;
}

std::string Mode() {
    const char* mode = std::getenv("STAND_IN_CIPHER_MODE");
    return mode != nullptr ? mode : "";
}

struct Fault {
    std::string action;
    long argument = 0;
};

// Paths arrive as UTF-8; the streams take the platform's own path type.
std::filesystem::path Native(const std::string& utf8) {
    return std::filesystem::path(std::u8string(utf8.begin(), utf8.end()));
}

std::string BaseName(const std::string& path) {
    auto slash = path.find_last_of("/\\");
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// Counts this run among the runs of its direction on name; 0 without STAND_IN_CIPHER_STATE.
long CountRun(std::string_view direction, const std::string& name) {
    const char* state = std::getenv("STAND_IN_CIPHER_STATE");
    if (state == nullptr) {
        return 0;
    }
    const std::filesystem::path file = Native(state) / Native(std::string(direction) + "-" + name);
    long count = 0;
    if (std::ifstream in(file); in) {
        in >> count;
    }
    std::ofstream(file, std::ios::trunc) << ++count;
    return count;
}

std::vector<Fault> FaultsFor(std::string_view direction, const std::string& name, long run) {
    std::vector<Fault> faults;
    const char* env = std::getenv("STAND_IN_CIPHER_FAULTS");
    if (env == nullptr) {
        return faults;
    }
    std::string_view rules(env);
    while (!rules.empty()) {
        auto end = rules.find(';');
        std::string_view rule = rules.substr(0, end);
        rules = end == std::string_view::npos ? std::string_view() : rules.substr(end + 1);
        auto first = rule.find(':');
        auto second = first == std::string_view::npos ? first : rule.find(':', first + 1);
        if (second == std::string_view::npos) {
            continue;
        }
        std::string_view dir = rule.substr(0, first);
        std::string_view action = rule.substr(first + 1, second - first - 1);
        std::string_view target = rule.substr(second + 1);
        if (const auto hash = target.rfind('#'); hash != std::string_view::npos) {
            if (std::strtol(std::string(target.substr(hash + 1)).c_str(), nullptr, 10) != run) {
                continue;
            }
            target = target.substr(0, hash);
        }
        if ((dir != "any" && dir != direction) || (target != "*" && target != name)) {
            continue;
        }
        Fault fault;
        auto eq = action.find('=');
        fault.action = std::string(action.substr(0, eq));
        if (eq != std::string_view::npos) {
            fault.argument = std::strtol(std::string(action.substr(eq + 1)).c_str(), nullptr, 10);
        }
        faults.push_back(fault);
    }
    return faults;
}

bool ReadAll(const std::string& path, std::string& out) {
    std::ifstream in(Native(path), std::ios::binary);
    if (!in) {
        return false;
    }
    out.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return !in.bad();
}

bool WriteAll(const std::string& path, std::string_view data) {
    std::ofstream out(Native(path), std::ios::binary | std::ios::trunc);
    out.write(data.data(), static_cast<std::streamsize>(data.size()));
    out.close();
    return static_cast<bool>(out);
}

// Writes data in eight flushed pieces with pauses between them, so a kill can land mid-write.
bool WritePaced(const std::string& path, std::string_view data, long milliseconds) {
    constexpr std::size_t kPieces = 8;
    std::ofstream out(Native(path), std::ios::binary | std::ios::trunc);
    const std::size_t piece = (data.size() + kPieces - 1) / kPieces;
    for (std::size_t at = 0; at < data.size() && out; at += piece) {
        if (at > 0) {
            std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds) / kPieces);
        }
        const std::size_t size = std::min(piece, data.size() - at);
        out.write(data.data() + at, static_cast<std::streamsize>(size));
        out.flush();
    }
    out.close();
    return static_cast<bool>(out);
}

// Appends one line so that runs side by side never lose one another's: the C runtime's append
// on Windows seeks to the end and then writes, so two runs can write at the same place.
void AppendLine(const char* file, const std::string& text) {
    const std::string line = text + '\n';
#ifdef _WIN32
    const HANDLE handle =
        ::CreateFileW(Native(file).c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                      nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        return;
    }
    OVERLAPPED whole{};
    if (::LockFileEx(handle, LOCKFILE_EXCLUSIVE_LOCK, 0, MAXDWORD, MAXDWORD, &whole)) {
        DWORD written = 0;
        ::SetFilePointerEx(handle, LARGE_INTEGER{}, nullptr, FILE_END);
        ::WriteFile(handle, line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
        ::UnlockFileEx(handle, 0, MAXDWORD, MAXDWORD, &whole);
    }
    ::CloseHandle(handle);
#else
    const int fd = ::open(file, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
    if (fd >= 0) {
        [[maybe_unused]] const ssize_t written = ::write(fd, line.data(), line.size());
        ::close(fd);
    }
#endif
}

void Log(std::string_view direction, const std::string& path, const std::string& name) {
    if (const char* log = std::getenv("STAND_IN_CIPHER_LOG"); log != nullptr) {
        AppendLine(log, std::string(direction) + ' ' + name);
    }
    if (const char* pathLog = std::getenv("STAND_IN_CIPHER_PATH_LOG"); pathLog != nullptr) {
        AppendLine(pathLog, path);
    }
    if (const char* folderLog = std::getenv("STAND_IN_CIPHER_FOLDER_LOG"); folderLog != nullptr) {
        std::error_code ec;
        const std::u8string folder = std::filesystem::current_path(ec).u8string();
        AppendLine(folderLog, ec ? std::string("?") : std::string(folder.begin(), folder.end()));
    }
}

// Leaves a helper process behind that lives the given time after the run.
void Linger(long milliseconds) {
#ifdef _WIN32
    wchar_t self[MAX_PATH];
    ::GetModuleFileNameW(nullptr, self, MAX_PATH);
    std::wstring line = L"\"" + std::wstring(self) + L"\" /linger:" + std::to_wstring(milliseconds);
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION helper{};
    if (::CreateProcessW(nullptr, line.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr,
                         &startup, &helper)) {
        ::CloseHandle(helper.hThread);
        ::CloseHandle(helper.hProcess);
    }
#else
    if (::fork() == 0) {
        std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
        ::_exit(0);
    }
#endif
}

// Holds the busy file of STAND_IN_CIPHER_BUSY for the life of the run.
class BusyMark {
public:
    BusyMark() {
        const char* path = std::getenv("STAND_IN_CIPHER_BUSY");
        if (path == nullptr) {
            return;
        }
#ifdef _WIN32
        const HANDLE file = ::CreateFileW(Native(path).c_str(), GENERIC_WRITE, 0, nullptr,
                                          CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
        held_ = file != INVALID_HANDLE_VALUE;
        if (held_) {
            ::CloseHandle(file);
        }
#else
        const int fd = ::open(path, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
        held_ = fd >= 0;
        if (held_) {
            ::close(fd);
        }
#endif
        path_ = held_ ? path : "";
        refused_ = !held_;
    }
    ~BusyMark() {
        if (held_) {
            std::error_code ec;
            std::filesystem::remove(Native(path_), ec);
        }
    }
    BusyMark(const BusyMark&) = delete;
    BusyMark& operator=(const BusyMark&) = delete;

    // Another run holds the file.
    bool refused() const {
        return refused_;
    }

private:
    std::string path_;
    bool held_ = false;
    bool refused_ = false;
};

// The fixed scratch file of STAND_IN_CIPHER_SCRATCH; empty when there is none.
std::string ScratchFile(const std::string& self) {
    const char* where = std::getenv("STAND_IN_CIPHER_SCRATCH");
    if (where == nullptr) {
        return {};
    }
    const std::string_view place = where;
    if (place == "beside") {
        const auto slash = self.find_last_of("/\\");
        return (slash == std::string::npos ? std::string(".") : self.substr(0, slash)) +
               "/stand-in-scratch.tmp";
    }
    if (place == "folder") {
        return "stand-in-scratch.tmp";
    }
    if (place != "temp") {
        return std::string(place);
    }
    const std::u8string temp =
        (std::filesystem::temp_directory_path() / "stand-in-scratch.tmp").u8string();
    return std::string(temp.begin(), temp.end());
}

} // namespace

int Run(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: decrypt.exe /decrypt:PATH | /encrypt:PATH\n");
        return 64;
    }
    std::string argument = argv[1];
    if (argument.rfind("/linger:", 0) == 0) { // the helper Linger leaves behind
        std::this_thread::sleep_for(std::chrono::milliseconds(std::atol(argument.c_str() + 8)));
        return 0;
    }
    std::string_view direction;
    if (argument.rfind("/decrypt:", 0) == 0) {
        direction = "decrypt";
    } else if (argument.rfind("/encrypt:", 0) == 0) {
        direction = "encrypt";
    } else {
        std::fprintf(stderr, "unknown switch: %s\n", argument.c_str());
        return 64;
    }
    const std::string path = argument.substr(9);
    const std::string name = BaseName(path);
    Log(direction, path, name);
    const BusyMark busy;
    if (busy.refused()) {
        std::fprintf(stderr, "stand-in: another run is in progress\n");
        return 75;
    }

    bool backup = true;
    bool lenient = false;
    bool corrupt = false;
    long truncateTo = -1;
    long paceMs = -1;
    for (const Fault& fault : FaultsFor(direction, name, CountRun(direction, name))) {
        if (fault.action == "exit") {
            std::fprintf(stderr, "stand-in: %s of %s failed on purpose\n",
                         std::string(direction).c_str(), name.c_str());
            return static_cast<int>(fault.argument);
        } else if (fault.action == "signal") {
            std::signal(static_cast<int>(fault.argument), SIG_DFL);
            std::raise(static_cast<int>(fault.argument));
            return 1;
        } else if (fault.action == "crash") {
            std::fprintf(stderr, "stand-in: crashing on purpose\n");
            std::fflush(stderr);
            // Not address 0, which Wine lets a program write to; a kernel address never is.
            int* volatile nowhere = reinterpret_cast<int*>(std::uintptr_t{0xFFFF800000000000u});
            *nowhere = 1;
            return 1;
        } else if (fault.action == "truncate") {
            truncateTo = fault.argument;
        } else if (fault.action == "nobackup") {
            backup = false;
        } else if (fault.action == "delete") {
            std::error_code ec;
            return std::filesystem::remove(Native(path), ec) ? 0 : 1;
        } else if (fault.action == "hang") {
            if (fault.argument > 0) {
                std::this_thread::sleep_for(std::chrono::milliseconds(fault.argument));
                std::fprintf(stderr, "stand-in: gave up hanging\n");
                return 75;
            }
            for (;;) {
#ifdef _WIN32
                ::Sleep(INFINITE);
#else
                pause();
#endif
            }
        } else if (fault.action == "sleep") {
            std::this_thread::sleep_for(std::chrono::milliseconds(fault.argument));
        } else if (fault.action == "pace") {
            paceMs = fault.argument;
        } else if (fault.action == "noop") {
            return 0;
        } else if (fault.action == "lenient") {
            lenient = true;
        } else if (fault.action == "corrupt") {
            corrupt = true;
        } else if (fault.action == "linger") {
            Linger(fault.argument);
        }
    }

    std::string before;
    if (!ReadAll(path, before)) {
        std::fprintf(stderr, "cannot read %s\n", path.c_str());
        return 66;
    }
    if (const std::string scratch = ScratchFile(argv[0]); !scratch.empty()) {
        const char* pause = std::getenv("STAND_IN_CIPHER_SCRATCH_MS");
        if (!WriteAll(scratch, before)) {
            std::fprintf(stderr, "cannot write %s\n", scratch.c_str());
            return 73;
        }
        std::this_thread::sleep_for(
            std::chrono::milliseconds(pause != nullptr ? std::atol(pause) : 50));
        if (!ReadAll(scratch, before)) {
            std::fprintf(stderr, "cannot read %s\n", scratch.c_str());
            return 66;
        }
    }
    std::string after;
    std::string cached;
    const char* cache = std::getenv("STAND_IN_CIPHER_CACHE");
    const std::string cacheFile = cache == nullptr
                                      ? std::string()
                                      : std::string(cache) + "/" + std::string(direction) + "-" +
                                            std::to_string(before.size());
    if (!cacheFile.empty() && ReadAll(cacheFile, cached)) {
        after = cached;
    } else if (Mode() == "xor") {
        after = before;
        for (char& c : after) {
            c = static_cast<char>(c ^ 0x5A);
        }
    } else if (direction == "decrypt" && standin::DecipherPadded(before)) {
        after = *standin::DecipherPadded(before);
    } else if (direction == "encrypt" && Mode() == "padded") {
        std::random_device random;
        std::string iv;
        for (std::size_t i = 0; i < standin::kBlock; ++i) {
            iv.push_back(static_cast<char>(random() & 0xFF));
        }
        after = standin::EncipherPadded(before, iv);
    } else if (direction == "decrypt") {
        auto plain = standin::Decipher(Keyed(before, standin::kHeader.size()));
        if (!plain && lenient) {
            plain = standin::Decipher(std::string(standin::kHeader) + before);
        }
        if (!plain) {
            std::fprintf(stderr, "%s is not enciphered\n", name.c_str());
            return 65;
        }
        after = std::move(*plain);
    } else if (const char* salted = std::getenv("STAND_IN_CIPHER_SALT");
               salted != nullptr && std::string_view(salted) == "1") {
        std::random_device random;
        std::string salt;
        for (std::size_t i = 0; i < standin::kSaltSize; ++i) {
            salt.push_back(static_cast<char>(random() & 0xFF));
        }
        after = standin::EncipherSalted(before, salt);
    } else {
        after = Keyed(standin::Encipher(before), standin::kHeader.size());
    }
    if (!cacheFile.empty() && cached.empty()) {
        (void)WriteAll(cacheFile, after);
    }
    if (backup && !WriteAll(path + ".backup", before)) {
        std::fprintf(stderr, "cannot write the backup of %s\n", name.c_str());
        return 73;
    }
    if (corrupt && !after.empty()) {
        after.back() = static_cast<char>(after.back() ^ 0x5A);
    }
    if (truncateTo >= 0 && static_cast<std::size_t>(truncateTo) < after.size()) {
        after.resize(static_cast<std::size_t>(truncateTo));
    }
    if (paceMs >= 0 ? !WritePaced(path, after, paceMs) : !WriteAll(path, after)) {
        std::fprintf(stderr, "cannot write %s\n", path.c_str());
        return 74;
    }
    return 0;
}

#ifdef _WIN32
// Whether the raw command line has exactly the form the cipher tool's callers must give it.
bool ExactCommandLine(const std::wstring& line) {
    wchar_t self[32768];
    const DWORD length = ::GetModuleFileNameW(nullptr, self, 32768);
    if (line.size() < 2 || line[0] != L'"') {
        return false;
    }
    const std::size_t toolEnd = line.find(L'"', 1);
    if (toolEnd == std::wstring::npos ||
        ::CompareStringOrdinal(line.c_str() + 1, static_cast<int>(toolEnd - 1), self,
                               static_cast<int>(length), TRUE) != CSTR_EQUAL) {
        return false;
    }
    const std::wstring rest = line.substr(toolEnd + 1);
    const std::size_t switchLength = std::wstring(L" /decrypt:\"").size();
    if (rest.size() < switchLength + 3 || (rest.compare(0, switchLength, L" /decrypt:\"") != 0 &&
                                           rest.compare(0, switchLength, L" /encrypt:\"") != 0)) {
        return false;
    }
    const std::size_t pathEnd = rest.find(L'"', switchLength);
    return pathEnd != std::wstring::npos && pathEnd > switchLength &&
           rest.substr(pathEnd) == L"\" ";
}

// The arguments as UTF-16, so any path reaches the tool whatever the code page.
int wmain(int argc, wchar_t** argv) {
    const char* strict = std::getenv("STAND_IN_CIPHER_STRICT");
    if (strict != nullptr && std::string_view(strict) == "1" &&
        !ExactCommandLine(::GetCommandLineW())) {
        std::fwprintf(stderr, L"stand-in: not the exact command line: [%ls]\n",
                      ::GetCommandLineW());
        return 64;
    }
    std::vector<std::string> arguments;
    for (int i = 0; i < argc; ++i) {
        const int length =
            ::WideCharToMultiByte(CP_UTF8, 0, argv[i], -1, nullptr, 0, nullptr, nullptr);
        std::string text(static_cast<std::size_t>(length > 0 ? length : 1), '\0');
        ::WideCharToMultiByte(CP_UTF8, 0, argv[i], -1, text.data(), length, nullptr, nullptr);
        text.resize(std::strlen(text.c_str()));
        arguments.push_back(std::move(text));
    }
    std::vector<char*> pointers;
    for (std::string& argument : arguments) {
        pointers.push_back(argument.data());
    }
    pointers.push_back(nullptr);
    return Run(argc, pointers.data());
}
#else
int main(int argc, char** argv) {
    return Run(argc, argv);
}
#endif
