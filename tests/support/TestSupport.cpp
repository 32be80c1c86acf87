#include "TestSupport.h"

#include "../tools/StandInCipher.h"

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <unistd.h>

namespace fs = std::filesystem;

namespace testsupport {

namespace {

// Every test program keeps the backups it makes in a folder of its own, never in the user's
// data folder, unless a test or the caller chooses one.
struct PrivateBackupFolder {
    PrivateBackupFolder() {
        const char* chosen = std::getenv("OSTRAPEL_BACKUP_DIR");
        if (chosen != nullptr && chosen[0] != '\0') {
            return;
        }
        std::string pattern = (fs::temp_directory_path() / "ostrapel-backups-XXXXXX").string();
        if (mkdtemp(pattern.data()) == nullptr) {
            std::abort();
        }
        folder = pattern;
        owner = ::getpid();
        setenv("OSTRAPEL_BACKUP_DIR", folder.c_str(), 1);
    }
    ~PrivateBackupFolder() {
        if (!folder.empty() && owner == ::getpid()) {
            RemoveTree(folder);
        }
    }
    std::string folder;
    pid_t owner = 0;
} privateBackupFolder;

} // namespace

TempDir::TempDir() {
    std::string pattern = (fs::temp_directory_path() / "ostrapel-test-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) {
        throw std::runtime_error("mkdtemp failed");
    }
    path_ = pattern;
}

TempDir::~TempDir() {
    RemoveTree(path_);
}

std::string TempDir::operator/(std::string_view name) const {
    return path_ + "/" + std::string(name);
}

void RemoveTree(const std::string& path) {
    std::error_code ec;
    // Read-only folders made by tests would stop the removal.
    for (auto it = fs::recursive_directory_iterator(path, ec); !ec && it != fs::end(it);
         it.increment(ec)) {
        if (it->is_directory(ec) && !it->is_symlink(ec)) {
            fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ec);
        }
    }
    fs::permissions(path, fs::perms::owner_all, fs::perm_options::add, ec);
    fs::remove_all(path, ec);
}

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        throw std::runtime_error("cannot read " + path);
    }
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteFile(const std::string& path, std::string_view content) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(content.data(), static_cast<std::streamsize>(content.size()));
    if (!out) {
        throw std::runtime_error("cannot write " + path);
    }
}

bool Exists(const std::string& path) {
    std::error_code ec;
    return fs::exists(fs::symlink_status(path, ec));
}

void MakeDir(const std::string& path) {
    fs::create_directories(path);
}

std::vector<std::string> SortedNames(const std::string& folder) {
    std::vector<std::string> names;
    std::error_code ec;
    for (auto it = fs::directory_iterator(folder, ec); !ec && it != fs::end(it); it.increment(ec)) {
        names.push_back(it->path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

std::vector<std::string> ReadLines(const std::string& path) {
    std::vector<std::string> lines;
    std::ifstream in(path);
    for (std::string line; std::getline(in, line);) {
        lines.push_back(line);
    }
    return lines;
}

std::string StandInToolPath() {
    return OSTRAPEL_STAND_IN_TOOL;
}

std::string MakeProgramFolder(const TempDir& root, bool withTool) {
    const std::string app = root / "app";
    fs::create_directories(app + "/Decrypt/temp");
    if (withTool) {
        fs::copy_file(StandInToolPath(), app + "/Decrypt/decrypt.exe",
                      fs::copy_options::overwrite_existing);
    }
    return app + "/";
}

std::string PlainSave(std::size_t size, unsigned seed) {
    std::string data(size, '\0');
    unsigned state = seed * 2654435761u + 12345u;
    for (char& c : data) {
        state = state * 1103515245u + 12345u;
        c = static_cast<char>(state >> 16);
    }
    return data;
}

std::string EncipheredSave(std::size_t size, unsigned seed) {
    return standin::Encipher(PlainSave(size, seed));
}

std::string ConvertedSave(std::size_t size, unsigned seed, int value) {
    std::string plain = PlainSave(size, seed);
    if (plain.size() < 790) {
        plain.resize(790, '\0');
    }
    plain[788] = static_cast<char>(value & 0xFF);
    plain[789] = static_cast<char>((value >> 8) & 0xFF);
    return standin::Encipher(plain);
}

ScopedEnv::ScopedEnv(std::string name, const std::string& value) : name_(std::move(name)) {
    if (const char* old = std::getenv(name_.c_str())) {
        had_ = true;
        old_ = old;
    }
    setenv(name_.c_str(), value.c_str(), 1);
}

ScopedEnv::~ScopedEnv() {
    if (had_) {
        setenv(name_.c_str(), old_.c_str(), 1);
    } else {
        unsetenv(name_.c_str());
    }
}

} // namespace testsupport
