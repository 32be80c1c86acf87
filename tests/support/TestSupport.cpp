#include "TestSupport.h"

#include "../tools/StandInCipher.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <optional>
#include <random>
#include <stdexcept>

#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace fs = std::filesystem;

namespace testsupport {

fs::path Native(const std::string& utf8) {
    return fs::path(std::u8string(utf8.begin(), utf8.end()));
}

std::string Utf8(const fs::path& path) {
    const std::u8string text = path.u8string();
    return std::string(text.begin(), text.end());
}

TempDir::TempDir() {
    static std::mt19937_64 engine{std::random_device{}()};
    for (int attempt = 0; attempt < 100; ++attempt) {
        const fs::path candidate =
            fs::temp_directory_path() / ("ostrapel-test-" + std::to_string(engine() % 1000000000));
        std::error_code ec;
        if (fs::create_directory(candidate, ec)) {
            path_ = Utf8(candidate);
            return;
        }
    }
    throw std::runtime_error("cannot make a temporary folder");
}

TempDir::~TempDir() {
    RemoveTree(path_);
}

std::string TempDir::operator/(std::string_view name) const {
#ifdef _WIN32
    return path_ + "\\" + std::string(name);
#else
    return path_ + "/" + std::string(name);
#endif
}

void RemoveTree(const std::string& path) {
    std::error_code ec;
    // Read-only folders made by tests would stop the removal.
    for (auto it = fs::recursive_directory_iterator(Native(path), ec); !ec && it != fs::end(it);
         it.increment(ec)) {
        if (it->is_directory(ec) && !it->is_symlink(ec)) {
            fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ec);
        }
    }
    fs::permissions(Native(path), fs::perms::owner_all, fs::perm_options::add, ec);
    fs::remove_all(Native(path), ec);
}

std::string ReadFile(const std::string& path) {
    std::ifstream in(Native(path), std::ios::binary);
    if (!in) {
        throw std::runtime_error("cannot read " + path);
    }
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteFile(const std::string& path, std::string_view content) {
    std::ofstream out(Native(path), std::ios::binary | std::ios::trunc);
    out.write(content.data(), static_cast<std::streamsize>(content.size()));
    if (!out) {
        throw std::runtime_error("cannot write " + path);
    }
}

void RewriteKeepingTime(const std::string& path, std::string_view content) {
#ifdef _WIN32
    HANDLE file = ::CreateFileW(Native(path).c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                OPEN_EXISTING, 0, nullptr);
    FILETIME written{};
    DWORD put = 0;
    const bool done =
        file != INVALID_HANDLE_VALUE && ::GetFileTime(file, nullptr, nullptr, &written) &&
        ::WriteFile(file, content.data(), static_cast<DWORD>(content.size()), &put, nullptr) &&
        ::SetEndOfFile(file) && ::SetFileTime(file, nullptr, nullptr, &written);
    if (file != INVALID_HANDLE_VALUE) {
        ::CloseHandle(file);
    }
    if (!done || put != content.size()) {
        throw std::runtime_error("cannot rewrite " + path);
    }
#else
    struct stat before {};
    if (::stat(path.c_str(), &before) != 0) {
        throw std::runtime_error("cannot look at " + path);
    }
    WriteFile(path, content);
    const struct timespec times[2] = {before.st_atim, before.st_mtim};
    if (::utimensat(AT_FDCWD, path.c_str(), times, 0) != 0) {
        throw std::runtime_error("cannot set the time of " + path);
    }
#endif
}

bool Exists(const std::string& path) {
    std::error_code ec;
    return fs::exists(fs::symlink_status(Native(path), ec));
}

void MakeDir(const std::string& path) {
    fs::create_directories(Native(path));
}

std::vector<std::string> SortedNames(const std::string& folder) {
    std::vector<std::string> names;
    std::error_code ec;
    for (auto it = fs::directory_iterator(Native(folder), ec); !ec && it != fs::end(it);
         it.increment(ec)) {
        names.push_back(Utf8(it->path().filename()));
    }
    std::sort(names.begin(), names.end());
    return names;
}

std::vector<std::string> LeftInWorkFolder(const std::string& folder) {
    const auto isPlace = [](std::string_view name) {
        return !name.empty() && std::all_of(name.begin(), name.end(), [](char c) {
            return std::isdigit(static_cast<unsigned char>(c)) != 0;
        });
    };
    std::vector<std::string> left;
    for (const std::string& name : SortedNames(folder)) {
        if (name != ".jobs") {
            left.push_back(name);
            continue;
        }
        const std::string jobs = folder + "/.jobs";
        for (const std::string& entry : SortedNames(jobs)) {
            const bool stamp = entry.ends_with(".stamp") &&
                               isPlace(std::string_view(entry).substr(0, entry.size() - 6));
            if (stamp) {
                continue;
            }
            if (!isPlace(entry) || !fs::is_directory(Native(jobs + "/" + entry))) {
                left.push_back(".jobs/" + entry);
                continue;
            }
            for (const std::string& inside : SortedNames(jobs + "/" + entry)) {
                if (inside != "Decrypt" &&
                    (inside != "temp" || !SortedNames(jobs + "/" + entry + "/temp").empty())) {
                    left.push_back(".jobs/" + entry + "/" + inside);
                }
            }
        }
    }
    return left;
}

std::vector<std::string> ReadLines(const std::string& path) {
    std::vector<std::string> lines;
    std::ifstream in(Native(path));
    for (std::string line; std::getline(in, line);) {
        lines.push_back(line);
    }
    return lines;
}

std::string BuiltPath(const std::string& path) {
#ifdef _WIN32
    // Built on the host, run under Wine: the host's root is the Z: drive there.
    if (!path.empty() && path.front() == '/') {
        std::string windows = "Z:" + path;
        std::replace(windows.begin(), windows.end(), '/', '\\');
        return windows;
    }
#endif
    return path;
}

std::string StandInToolPath() {
    return BuiltPath(OSTRAPEL_STAND_IN_TOOL);
}

std::string MakeProgramFolder(const TempDir& root, bool withTool) {
    const std::string app = root / "app";
    fs::create_directories(Native(app + "/Decrypt/temp"));
    if (withTool) {
        fs::copy_file(Native(StandInToolPath()), Native(app + "/Decrypt/decrypt.exe"),
                      fs::copy_options::overwrite_existing);
    }
#ifdef _WIN32
    return app + "\\";
#else
    return app + "/";
#endif
}

std::string PlainSave(std::size_t size, unsigned seed) {
    std::string data(size, '\0');
    unsigned state = seed * 2654435761u + 12345u;
    for (char& c : data) {
        state = state * 1103515245u + 12345u;
        c = static_cast<char>(state >> 16);
    }
    if (data.size() >= 790) {
        data[788] = data[789] = '\0'; // at 0.00, a known version
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
    Set(name_, value);
}

ScopedEnv::~ScopedEnv() {
    if (had_) {
        Set(name_, old_);
    } else {
        Unset(name_);
    }
}

void ScopedEnv::Set(const std::string& name, const std::string& value) {
#ifdef _WIN32
    _putenv_s(name.c_str(), value.c_str()); // also the environment a started program inherits
#else
    setenv(name.c_str(), value.c_str(), 1);
#endif
}

void ScopedEnv::Unset(const std::string& name) {
#ifdef _WIN32
    _putenv_s(name.c_str(), "");
#else
    unsetenv(name.c_str());
#endif
}

namespace {

// Every test program keeps the backups it makes in a folder of its own, never in the user's
// data folder, unless a test or whoever started it chooses one. (Forked children end with
// _exit, so only the program that made the folder removes it.)
struct PrivateBackupFolder {
    PrivateBackupFolder() {
        const char* chosen = std::getenv("OSTRAPEL_BACKUP_DIR");
        if (chosen == nullptr || chosen[0] == '\0') {
            folder = std::make_unique<TempDir>();
            env = std::make_unique<ScopedEnv>("OSTRAPEL_BACKUP_DIR", folder->path());
        }
    }
    std::unique_ptr<TempDir> folder;
    std::unique_ptr<ScopedEnv> env;
} privateBackupFolder;

} // namespace

#ifndef _WIN32
std::optional<std::string> ReadIfThere(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        return std::nullopt;
    }
    std::string content;
    char buffer[4096];
    ssize_t got = 0;
    while ((got = ::read(fd, buffer, sizeof buffer)) > 0 || (got < 0 && errno == EINTR)) {
        if (got > 0) {
            content.append(buffer, static_cast<std::size_t>(got));
        }
    }
    ::close(fd);
    if (got < 0) {
        return std::nullopt;
    }
    return content;
}

std::map<int, std::string> ProcessCommandLines(const std::string& procRoot) {
    std::map<int, std::string> lines;
    std::error_code ec;
    for (auto it = fs::directory_iterator(procRoot, ec); !ec && it != fs::end(it);
         it.increment(ec)) {
        const std::string name = it->path().filename().string();
        if (name.empty() || name.find_first_not_of("0123456789") != std::string::npos) {
            continue;
        }
        if (auto line = ReadIfThere(procRoot + "/" + name + "/cmdline")) {
            lines[std::stoi(name)] = std::move(*line);
        }
    }
    return lines;
}
#endif

} // namespace testsupport
