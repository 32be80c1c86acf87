// Converts N saves with a cipher tool that does next to nothing and compares the time per save
// with floors timed in the same run: loops doing only what a correct batch must do.
//   floor           per save the tool's four runs (a second decipher of the save as the witness
//                   of the first, and the proof's), the copies, the field, and a flushed
//                   temporary renamed over the save;
//   backup floor    that and a flushed backup copy of the original;
//   required floor  that, the checks that each run changed its file, the SHA-256 of the
//                   original and of the result that a backup set's manifest records, and the
//                   passes' order: all the work a batch that keeps backups must do. The goal is
//                   judged against it.
//   bench_convert [N]        (default 1000): best of four rounds of each, alternated
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

// The least a correct batch does per save: copy in, decipher, decipher a second copy of the save
// as its witness and compare, read the field (a save holding the value already is left alone)
// and write it, encipher, decipher a scratch copy and compare
// it with the patched save, then a flushed temporary renamed over the save; with backups, a
// flushed copy of the original too.
double Floor(const fs::path& saves, const std::vector<std::string>& names,
             const std::string& appDir, const fs::path& backups = {}) {
    const std::string work = appDir + "Decrypt/temp/";
    if (!backups.empty()) {
        fs::create_directories(backups);
    }
    ostrapel::Scn_Process runner;
    auto start = Clock::now();
    for (const std::string& name : names) {
        const std::string save = (saves / name).string();
        const std::string copy = work + name;
        const std::string scratch = work + "scratch-" + name;
        CopyFile(save, copy, false);
        Check(runner.Run_Process(ostrapel::CipherCommand(appDir, copy, true)).succeeded(), "tool");
        CopyFile(save, scratch, false);
        Check(runner.Run_Process(ostrapel::CipherCommand(appDir, scratch, true)).succeeded(),
              "tool");
        Check(ReadAll(scratch) == ReadAll(copy), "witness");
        int fd = ::open(copy.c_str(), O_RDWR | O_CLOEXEC);
        unsigned char old[2] = {0, 0};
        Check(::pread(fd, old, 2, 788) == 2 && (old[0] != 0xC8 || old[1] != 0x00), "old field");
        const unsigned char field[2] = {0xC8, 0x00};
        Check(::pwrite(fd, field, 2, 788) == 2 && ::close(fd) == 0, "field");
        const std::string patched = ReadAll(copy);
        Check(runner.Run_Process(ostrapel::CipherCommand(appDir, copy, false)).succeeded(), "tool");
        CopyFile(copy, scratch, false);
        Check(runner.Run_Process(ostrapel::CipherCommand(appDir, scratch, true)).succeeded(),
              "tool");
        Check(ReadAll(scratch) == patched, "check");
        if (!backups.empty()) {
            CopyFile(save, (backups / name).string(), true);
        }
        const std::string temporary = (saves / ("." + name + ".tmp")).string();
        CopyFile(copy, temporary, true);
        Check(::rename(temporary.c_str(), save.c_str()) == 0, "rename");
        ::unlink(copy.c_str());
        ::unlink(scratch.c_str());
    }
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

// The floor with backups and what else every batch must do: the checks that each tool run
// changed its file (made on bytes read anyway), the SHA-256 of the original and of the result
// that the backup's manifest records, and the passes' order (every decipher, then every
// encipher with its proof, then the backups, flushed, then the replacements), with the work
// copies kept from one pass to the next and the patched saves kept in memory; the witness of
// each decipher, a second decipher of the save, in a pass of its own between the first two.
double RequiredFloor(const fs::path& saves, const std::vector<std::string>& names,
                     const std::string& appDir, const fs::path& backups) {
    const std::string work = appDir + "Decrypt/temp/";
    fs::create_directories(backups);
    ostrapel::Scn_Process runner;
    std::vector<std::string> patched(names.size());
    std::string manifest; // the digests a backup set records
    auto start = Clock::now();
    for (std::size_t i = 0; i < names.size(); ++i) {
        const std::string copy = work + names[i];
        std::string original;
        CopyFile((saves / names[i]).string(), copy, false, &original);
        Check(runner.Run_Process(ostrapel::CipherCommand(appDir, copy, true)).succeeded(), "tool");
        patched[i] = ReadAll(copy);
        Check(patched[i] != original, "changed nothing");
        Check(patched[i].size() >= 790 && (patched[i][788] != '\xC8' || patched[i][789] != '\0'),
              "old field");
        patched[i][788] = '\xC8';
        patched[i][789] = '\0';
        int fd = ::open(copy.c_str(), O_RDWR | O_CLOEXEC);
        Check(::pwrite(fd, patched[i].data() + 788, 2, 788) == 2 && ::close(fd) == 0, "field");
    }
    for (std::size_t i = 0; i < names.size(); ++i) {
        const std::string scratch = work + "scratch-" + names[i];
        CopyFile((saves / names[i]).string(), scratch, false);
        Check(runner.Run_Process(ostrapel::CipherCommand(appDir, scratch, true)).succeeded(),
              "tool");
        std::string plain = ReadAll(scratch);
        plain[788] = '\xC8';
        plain[789] = '\0';
        Check(plain == patched[i], "witness");
        ::unlink(scratch.c_str());
    }
    std::vector<std::string> results(names.size());
    for (std::size_t i = 0; i < names.size(); ++i) {
        const std::string copy = work + names[i];
        const std::string scratch = work + "scratch-" + names[i];
        Check(runner.Run_Process(ostrapel::CipherCommand(appDir, copy, false)).succeeded(), "tool");
        std::string enciphered;
        CopyFile(copy, scratch, false, &enciphered);
        Check(enciphered != patched[i], "changed nothing");
        Check(runner.Run_Process(ostrapel::CipherCommand(appDir, scratch, true)).succeeded(),
              "tool");
        Check(ReadAll(scratch) == patched[i], "check");
        ::unlink(scratch.c_str());
        results[i] = ostrapel::Sha256Hex(enciphered);
    }
    for (std::size_t i = 0; i < names.size(); ++i) {
        std::string kept;
        CopyFile((saves / names[i]).string(), (backups / names[i]).string(), true, &kept);
        manifest += ostrapel::Sha256Hex(kept) + " " + results[i] + "\n";
    }
    for (const std::string& name : names) {
        const std::string save = (saves / name).string();
        const std::string copy = work + name;
        const std::string temporary = (saves / ("." + name + ".tmp")).string();
        CopyFile(copy, temporary, true);
        Check(::rename(temporary.c_str(), save.c_str()) == 0, "rename");
        ::unlink(copy.c_str());
    }
    const double elapsed = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
    Check(manifest.size() == names.size() * 130, "manifest");
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
            ms = Floor(root / "saves", names, appDir);
        } else if (which == "backup-floor") {
            ms = Floor(root / "saves", names, appDir, root / "floor-backups");
        } else if (which == "required-floor") {
            ms = RequiredFloor(root / "saves", names, appDir, root / "floor-backups");
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
    std::printf("floor with all a batch must do (checks, backup, manifest hashes, passes): "
                "%.3f ms per save\n",
                requiredFloor);
    std::printf("batch with backups: %.3f ms per save\n", batch);
    std::printf("ratio to the floor: %.3f; to the floor with backups: %.3f; to the floor with "
                "all a batch must do: %.3f (target at most 1.10 against the last)\n",
                batch / floor, batch / backupFloor, batch / requiredFloor);
    return 0;
}
