// Converts N saves with a cipher tool that does next to nothing and compares the time per save
// with floors timed in the same run: loops doing only what any correct batch must do per save.
//   floor           the tool's three runs (the proof's included), the copies, the field, and a
//                   flushed temporary renamed over the save;
//   backup floor    that and a flushed backup copy of the original;
//   required floor  that, the checks that each run changed its file, and the SHA-256 of the
//                   original and of the result that a backup set's manifest records: all the
//                   work a batch that keeps backups must do. The goal is judged against it.
//   bench_convert [N]        (default 1000): best of three rounds of each, alternated
//   bench_convert N PART     one run of one part (floor, backup-floor, required-floor or
//                            batch), for a profiler
// It works in a fresh folder in $TMPDIR (default /tmp), so it measures that file system.
#include "conversion/ConvertSaves.h"
#include "system/Paths.h"
#include "system/Process.h"
#include "system/Sha256.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <unistd.h>

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

void Check(bool ok, const char* what) {
    if (!ok) {
        std::fprintf(stderr, "bench: %s failed\n", what);
        std::exit(1);
    }
}

void WriteSaves(const fs::path& folder, std::size_t count, std::vector<std::string>& names) {
    fs::create_directories(folder);
    const std::string content(4096, 's');
    names.clear();
    for (std::size_t i = 0; i < count; ++i) {
        names.push_back("save" + std::to_string(i) + ".sav");
        std::ofstream(folder / names.back(), std::ios::binary) << content;
    }
}

// Copies a file, keeping what it copied when kept is given.
void CopyFile(const std::string& from, const std::string& to, bool flush,
              std::string* kept = nullptr) {
    int in = ::open(from.c_str(), O_RDONLY | O_CLOEXEC);
    int out = ::open(to.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    Check(in >= 0 && out >= 0, "open");
    char buffer[65536];
    for (ssize_t got; (got = ::read(in, buffer, sizeof buffer)) > 0;) {
        Check(::write(out, buffer, static_cast<std::size_t>(got)) == got, "write");
        if (kept != nullptr) {
            kept->append(buffer, static_cast<std::size_t>(got));
        }
    }
    if (flush) {
        Check(::fsync(out) == 0, "fsync");
    }
    ::close(in);
    Check(::close(out) == 0, "close");
}

std::string ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

enum class FloorKind { Plain, Backup, Required };

// The least a correct batch does per save: copy in, decipher, read the field (a save holding
// the value already is left alone) and write it, encipher, decipher a scratch copy and compare
// it with the patched save, then a flushed temporary renamed over the save. Backup adds a
// flushed copy of the original; Required adds to that the checks that each run changed its
// file, made on bytes read anyway, and the two SHA-256 of the backup's manifest.
double Floor(const fs::path& saves, const std::vector<std::string>& names,
             const std::string& appDir, FloorKind kind, const fs::path& backups = {}) {
    const std::string work = appDir + "Decrypt/temp/";
    const bool required = kind == FloorKind::Required;
    if (kind != FloorKind::Plain) {
        fs::create_directories(backups);
    }
    ostrapel::Scn_Process runner;
    std::string manifest; // the digests a backup set records
    auto start = Clock::now();
    for (const std::string& name : names) {
        const std::string save = (saves / name).string();
        const std::string copy = work + name;
        const std::string scratch = work + "scratch-" + name;
        std::string original;
        CopyFile(save, copy, false, required ? &original : nullptr);
        Check(runner.Run_Process(ostrapel::CipherCommand(appDir, copy, true)).succeeded(), "tool");
        std::string patched;
        if (required) {
            patched = ReadAll(copy);
            Check(patched != original, "changed nothing");
            Check(patched.size() >= 790 && (patched[788] != '\xC8' || patched[789] != '\0'),
                  "old field");
            patched[788] = '\xC8';
            patched[789] = '\0';
        }
        int fd = ::open(copy.c_str(), O_RDWR | O_CLOEXEC);
        if (!required) {
            unsigned char old[2] = {0, 0};
            Check(::pread(fd, old, 2, 788) == 2 && (old[0] != 0xC8 || old[1] != 0x00), "old field");
        }
        const unsigned char field[2] = {0xC8, 0x00};
        Check(::pwrite(fd, field, 2, 788) == 2 && ::close(fd) == 0, "field");
        if (!required) {
            patched = ReadAll(copy);
        }
        Check(runner.Run_Process(ostrapel::CipherCommand(appDir, copy, false)).succeeded(), "tool");
        std::string enciphered;
        CopyFile(copy, scratch, false, required ? &enciphered : nullptr);
        Check(!required || enciphered != patched, "changed nothing");
        Check(runner.Run_Process(ostrapel::CipherCommand(appDir, scratch, true)).succeeded(),
              "tool");
        Check(ReadAll(scratch) == patched, "check");
        if (kind != FloorKind::Plain) {
            std::string kept;
            CopyFile(save, (backups / name).string(), true, required ? &kept : nullptr);
            if (required) {
                manifest +=
                    ostrapel::Sha256Hex(kept) + " " + ostrapel::Sha256Hex(enciphered) + "\n";
            }
        }
        const std::string temporary = (saves / ("." + name + ".tmp")).string();
        CopyFile(copy, temporary, true);
        Check(::rename(temporary.c_str(), save.c_str()) == 0, "rename");
        ::unlink(copy.c_str());
        ::unlink(scratch.c_str());
    }
    const double elapsed = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
    Check(manifest.size() == (required ? names.size() * 130 : 0), "manifest");
    return elapsed;
}

double Batch(const fs::path& saves, const std::vector<std::string>& names,
             const std::string& appDir, const fs::path& backups) {
    ostrapel::Scn_Process runner;
    ostrapel::BatchRequest request{saves.string(), names, appDir, "200"};
    request.backupFolder = backups.string();
    auto start = Clock::now();
    ostrapel::BatchResult result = ostrapel::ConvertSaves(request, runner);
    double elapsed = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
    Check(result.allChanged() && result.changedCount == names.size() && !result.backupSet.empty(),
          "batch");
    return elapsed;
}

} // namespace

int main(int argc, char** argv) {
    const std::size_t count = argc > 1 ? std::strtoul(argv[1], nullptr, 10) : 1000;
    const std::string part = argc > 2 ? argv[2] : "";
    Check(count > 0 && argc <= 3, "argument");
    const char* temporary = std::getenv("TMPDIR");
    std::string pattern = (temporary != nullptr && temporary[0] != '\0' ? temporary : "/tmp");
    pattern += "/ostrapel-bench-XXXXXX";
    Check(::mkdtemp(pattern.data()) != nullptr, "mkdtemp");
    const fs::path root = pattern;
    const std::string appDir = (root / "app").string() + "/";
    fs::create_directories(appDir + "Decrypt/temp");
    fs::copy_file(OSTRAPEL_MINIMAL_TOOL, appDir + "Decrypt/decrypt.exe");

    std::vector<std::string> names;
    auto run = [&](const std::string& which) {
        // Fresh saves for each run: a save converted already would be left alone.
        WriteSaves(root / "saves", count, names);
        double ms = 0;
        if (which == "floor") {
            ms = Floor(root / "saves", names, appDir, FloorKind::Plain);
        } else if (which == "backup-floor") {
            ms = Floor(root / "saves", names, appDir, FloorKind::Backup, root / "floor-backups");
        } else if (which == "required-floor") {
            ms = Floor(root / "saves", names, appDir, FloorKind::Required, root / "floor-backups");
        } else {
            Check(which == "batch", "part");
            ms = Batch(root / "saves", names, appDir, root / "backups");
        }
        fs::remove_all(root / "floor-backups");
        return ms / static_cast<double>(count);
    };
    if (!part.empty()) {
        const double perSave = run(part);
        fs::remove_all(root);
        std::printf("%s: %.3f ms per save\n", part.c_str(), perSave);
        return 0;
    }

    // Alternate them, each round starting one further, so none always gets a warmer machine
    // or follows the same one (on some file systems, creating files costs more soon after
    // others were removed); take each one's best round: the machine is shared, and what others
    // run only ever adds time.
    constexpr int kRounds = 4; // each part once in each place
    const std::array<const char*, 4> parts = {"floor", "backup-floor", "required-floor", "batch"};
    std::array<double, 4> best;
    best.fill(1e300);
    for (std::size_t round = 0; round < kRounds; ++round) {
        for (std::size_t k = 0; k < parts.size(); ++k) {
            const std::size_t which = (round + k) % parts.size();
            best[which] = std::min(best[which], run(parts[which]));
        }
    }
    fs::remove_all(root);
    const auto [floor, backupFloor, requiredFloor, batch] = best;

    std::printf("saves: %zu (best of %d rounds)\n", count, kRounds);
    std::printf("floor: %.3f ms per save\n", floor);
    std::printf("floor with a flushed backup copy: %.3f ms per save\n", backupFloor);
    std::printf("floor with all a batch must do (checks, backup, manifest hashes): %.3f ms per "
                "save\n",
                requiredFloor);
    std::printf("batch with backups: %.3f ms per save\n", batch);
    std::printf("ratio to the floor: %.3f; to the floor with backups: %.3f; to the floor with "
                "all a batch must do: %.3f (target at most 1.10 against the last)\n",
                batch / floor, batch / backupFloor, batch / requiredFloor);
    return 0;
}
