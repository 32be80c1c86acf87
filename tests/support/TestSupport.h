#pragma once

#include <cstddef>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace testsupport {

// How much longer a test may wait for an event than on an idle machine without sanitizers:
// OSTRAPEL_TIME_FACTOR from the build (larger under the sanitizers). Waits are on events, so a
// large limit costs nothing when the test passes; it only bounds a test that fails.
#ifndef OSTRAPEL_TIME_FACTOR
#define OSTRAPEL_TIME_FACTOR 1
#endif
constexpr int kTimeFactor = OSTRAPEL_TIME_FACTOR;
// Heavy cases (hundreds of saves) run lighter where each step is several times slower.
constexpr bool kLighter = kTimeFactor > 1;
constexpr int ScaledMs(int ms) {
    return ms * kTimeFactor;
}

// A fresh folder under the system's temporary folder, removed with everything in it.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::string& path() const { return path_; }
    // path + "/" + name
    std::string operator/(std::string_view name) const;

private:
    std::string path_;
};

// A UTF-8 path as the platform's path type, and back: std::filesystem and the streams take
// the platform's own encoding, which is not UTF-8 on Windows.
std::filesystem::path Native(const std::string& utf8);
std::string Utf8(const std::filesystem::path& path);

void RemoveTree(const std::string& path);
std::string ReadFile(const std::string& path);
void WriteFile(const std::string& path, std::string_view content);
// Writes content over a file in place and puts its last-write time back, to the system's full
// precision: as a writer through a mapped view, or on FAT within its 2 s, leaves it.
void RewriteKeepingTime(const std::string& path, std::string_view content);
bool Exists(const std::string& path);
void MakeDir(const std::string& path);
// The names in a folder, sorted; empty when it cannot be read.
std::vector<std::string> SortedNames(const std::string& folder);
// What a work folder holds besides the job places that stay from batch to batch (".jobs/N/"
// with its Decrypt copy and an empty temp, ".jobs/N.stamp"): sorted, those in .jobs as
// ".jobs/NAME" or ".jobs/N/NAME". Empty when it holds nothing else.
std::vector<std::string> LeftInWorkFolder(const std::string& folder);
// The lines of a text file; empty when it does not exist.
std::vector<std::string> ReadLines(const std::string& path);

// A path the build wrote into a test, as the test program can open it.
std::string BuiltPath(const std::string& path);

// Path of the built stand-in cipher tool.
std::string StandInToolPath();

// A program folder: <root>/app/ with Decrypt/decrypt.exe (the stand-in, unless withTool is
// false) and Decrypt/temp/. Returns it ending in '/', as AppDir.
std::string MakeProgramFolder(const TempDir& root, bool withTool = true);

// Deterministic plain save content of the given size; its DLC field, where it has one, at 0.00.
std::string PlainSave(std::size_t size, unsigned seed);
// The same enciphered as the stand-in tool does it.
std::string EncipheredSave(std::size_t size, unsigned seed);
// What a save of PlainSave(size, seed) looks like after conversion to value.
std::string ConvertedSave(std::size_t size, unsigned seed, int value);

// Sets an environment variable for a scope, restoring its earlier state afterwards.
class ScopedEnv {
public:
    ScopedEnv(std::string name, const std::string& value);
    ~ScopedEnv();
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;

private:
    static void Set(const std::string& name, const std::string& value);
    static void Unset(const std::string& name);

    std::string name_;
    bool had_ = false;
    std::string old_;
};

// A program folder with the stand-in tool, an empty save folder beside it, and the tool's
// log of its runs: what a batch test starts from.
struct BatchScene {
    BatchScene() { MakeDir(saves); }

    TempDir root;
    std::string appDir = MakeProgramFolder(root);
    std::string saves = root / "saves";
    std::string log = root / "tool.log";
    ScopedEnv logEnv{"STAND_IN_CIPHER_LOG", log};
    std::string backups = root / "backups";
    ScopedEnv backupsEnv{"OSTRAPEL_BACKUP_DIR", backups};
    // The user's data folder, which holds the save-folder locks.
    std::string data = root / "data";
    ScopedEnv dataEnv{"XDG_DATA_HOME", data};
};

#ifndef _WIN32
// A file's whole content, or nothing when it cannot be opened or a read fails (a file under
// /proc goes away with its process, even midway).
std::optional<std::string> ReadIfThere(const std::string& path);

// Every process's command line by process id, as procRoot shows them: each argument ended by
// a NUL. A process that ends while it is being read is left out.
std::map<int, std::string> ProcessCommandLines(const std::string& procRoot = "/proc");
#endif

} // namespace testsupport
