#include "system/Wine.h"

#include "system/FileSystem.h"
#include "system/Paths.h"

#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <string_view>

namespace ostrapel {

namespace {

std::string Environment(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr ? value : "";
}

} // namespace

std::string WineOverridesWithoutDebugger(const std::string& overrides) {
    constexpr std::string_view kNoDebugger = "winedbg.exe=d";
    if (overrides.empty()) {
        return std::string(kNoDebugger);
    }
    return overrides + (overrides.back() == ';' ? "" : ";") + std::string(kNoDebugger);
}

bool IsWindowsProgram(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    char header[64];
    if (!in.read(header, sizeof header) || header[0] != 'M' || header[1] != 'Z') {
        return false;
    }
    std::uint32_t offset = 0;
    for (int i = 3; i >= 0; --i) {
        offset = (offset << 8) | static_cast<unsigned char>(header[0x3C + i]);
    }
    char signature[4];
    return offset >= sizeof header && in.seekg(offset) && in.read(signature, sizeof signature) &&
           std::string_view(signature, sizeof signature) == std::string_view("PE\0\0", 4);
}

#ifdef _WIN32
std::string FindWine() {
    return {}; // Windows programs run as they are
}
#endif

bool RunsThroughWine(const std::string& program) {
#ifdef _WIN32
    (void)program;
    return false;
#else
    return IsWindowsProgram(program);
#endif
}

std::string WinePrefix() {
    if (std::string prefix = Environment("WINEPREFIX"); !prefix.empty()) {
        return prefix;
    }
    const std::string home = Environment("HOME");
    return home.empty() ? std::string() : JoinPath(home, ".wine");
}

bool WinePrefixReady(const std::string& prefix) {
    return !prefix.empty() && KindOf(JoinPath(prefix, "system.reg")) == EntryKind::File;
}

std::string WineBridgeFor(const std::string& exeDir) {
    if (exeDir.empty()) {
        return {};
    }
    for (std::string path :
         {JoinPath(exeDir, kWineBridgeName),
          JoinPath(JoinPath(ParentOf(exeDir), "lib/ostrapel"), kWineBridgeName)}) {
        if (KindOf(path) == EntryKind::File) {
            return path;
        }
    }
    return {};
}

} // namespace ostrapel
