// Converts N saves with a cipher tool that does next to nothing and compares the time per save
// with a floor timed in the same run: a loop doing only what any correct batch must do per
// save, the proof of the enciphered result included. The batch keeps a backup of every save it
// replaces; a second floor adds the least such a backup costs (a flushed copy of the original),
// so the cost of keeping backups shows against both.
//   bench_convert [N]   (default 1000)

#include "conversion/ConvertSaves.h"
#include "system/Paths.h"
#include "system/Process.h"

#include <algorithm>
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

void CopyFile(const std::string& from, const std::string& to, bool flush) {
    int in = ::open(from.c_str(), O_RDONLY | O_CLOEXEC);
    int out = ::open(to.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    Check(in >= 0 && out >= 0, "open");
    char buffer[65536];
    for (ssize_t got; (got = ::read(in, buffer, sizeof buffer)) > 0;) {
        Check(::write(out, buffer, static_cast<std::size_t>(got)) == got, "write");
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

// The least a correct batch does per save: copy in, decipher, read the field (a save holding
// the value already is left alone) and write it, encipher,
// decipher a scratch copy and compare it with the patched save, then a flushed temporary
// renamed over the save.
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
    Check(count > 0, "argument");
    char pattern[] = "/tmp/ostrapel-bench-XXXXXX";
    Check(::mkdtemp(pattern) != nullptr, "mkdtemp");
    const fs::path root = pattern;
    const std::string appDir = (root / "app").string() + "/";
    fs::create_directories(appDir + "Decrypt/temp");
    fs::copy_file(OSTRAPEL_MINIMAL_TOOL, appDir + "Decrypt/decrypt.exe");

    std::vector<std::string> names;
    // Alternate them so none gets a warmer machine, and take each one's best round: the
    // machine is shared, and what others run only ever adds time. Fresh saves for each run: a
    // save converted already would be left alone.
    constexpr int kRounds = 3;
    double floorMs = 1e300;
    double backupFloorMs = 1e300;
    double batchMs = 1e300;
    for (int round = 0; round < kRounds; ++round) {
        WriteSaves(root / "saves", count, names);
        floorMs = std::min(floorMs, Floor(root / "saves", names, appDir));
        WriteSaves(root / "saves", count, names);
        backupFloorMs =
            std::min(backupFloorMs, Floor(root / "saves", names, appDir, root / "floor-backups"));
        fs::remove_all(root / "floor-backups");
        WriteSaves(root / "saves", count, names);
        batchMs = std::min(batchMs, Batch(root / "saves", names, appDir, root / "backups"));
    }
    fs::remove_all(root);

    const double perFloor = floorMs / static_cast<double>(count);
    const double perBackupFloor = backupFloorMs / static_cast<double>(count);
    const double perBatch = batchMs / static_cast<double>(count);
    std::printf("saves: %zu (best of %d rounds)\n", count, kRounds);
    std::printf("floor: %.3f ms per save\n", perFloor);
    std::printf("floor with a flushed backup copy: %.3f ms per save\n", perBackupFloor);
    std::printf("batch with backups: %.3f ms per save\n", perBatch);
    std::printf("ratio to the floor: %.3f; to the floor with backups: %.3f (target at most "
                "1.10)\n",
                perBatch / perFloor, perBatch / perBackupFloor);
    return 0;
}
