// Converts N saves with a cipher tool that does next to nothing and compares the time per save
// with a floor timed in the same run: a loop doing only what any correct batch must do per
// save, the proof of the enciphered result included.
//   bench_convert [N]   (default 1000)

#include "conversion/ConvertSaves.h"
#include "system/Paths.h"
#include "system/Process.h"

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
             const std::string& appDir) {
    const std::string work = appDir + "Decrypt/temp/";
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
        const std::string temporary = (saves / ("." + name + ".tmp")).string();
        CopyFile(copy, temporary, true);
        Check(::rename(temporary.c_str(), save.c_str()) == 0, "rename");
        ::unlink(copy.c_str());
        ::unlink(scratch.c_str());
    }
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

double Batch(const fs::path& saves, const std::vector<std::string>& names,
             const std::string& appDir) {
    ostrapel::Scn_Process runner;
    auto start = Clock::now();
    ostrapel::BatchResult result =
        ostrapel::ConvertSaves({saves.string(), names, appDir, "200"}, runner);
    double elapsed = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
    Check(result.allChanged() && result.changedCount == names.size(), "batch");
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
    // Alternate the two so neither gets a warmer machine.
    double floorMs = 0;
    double batchMs = 0;
    // Fresh saves for each: a save converted already would be left alone.
    for (int round = 0; round < 2; ++round) {
        WriteSaves(root / "saves", count, names);
        floorMs += Floor(root / "saves", names, appDir);
        WriteSaves(root / "saves", count, names);
        batchMs += Batch(root / "saves", names, appDir);
    }
    fs::remove_all(root);

    const double perFloor = floorMs / static_cast<double>(2 * count);
    const double perBatch = batchMs / static_cast<double>(2 * count);
    std::printf("saves: %zu (x2 rounds)\n", count);
    std::printf("floor: %.3f ms per save\n", perFloor);
    std::printf("batch: %.3f ms per save\n", perBatch);
    std::printf("ratio: %.3f (target at most 1.10)\n", perBatch / perFloor);
    return 0;
}
