#include "WindowsText.h"
#include "system/Paths.h"
#include "system/UserFolders.h"

#include <cstdio>
#include <shlobj.h>
#include <windows.h>

namespace ostrapel {

namespace {

// %LOCALAPPDATA%\Ostrapel; empty when unknown.
std::string LocalDataFolder() {
    PWSTR local = nullptr;
    if (::SHGetKnownFolderPath(FOLDERID_LocalAppData, KF_FLAG_DEFAULT, nullptr, &local) != S_OK) {
        ::CoTaskMemFree(local);
        return {};
    }
    const std::string folder = win::Utf8(local);
    ::CoTaskMemFree(local);
    return JoinPath(folder, "Ostrapel");
}

} // namespace

std::string DefaultBackupFolder() {
    const std::string folder = LocalDataFolder();
    return folder.empty() ? folder : JoinPath(folder, "Backups");
}

std::string UserWorkFolder() {
    const std::string folder = LocalDataFolder();
    return folder.empty() ? folder : JoinPath(JoinPath(folder, "Decrypt"), "temp");
}

std::string LocalTimeText(std::int64_t secondsSinceEpoch) {
    // FILETIME counts 100 ns from 1601-01-01.
    constexpr std::int64_t kEpochDifference = 11644473600LL;
    const auto ticks =
        static_cast<std::uint64_t>(secondsSinceEpoch + kEpochDifference) * 10000000ULL;
    FILETIME utc{static_cast<DWORD>(ticks & 0xFFFFFFFFu), static_cast<DWORD>(ticks >> 32)};
    SYSTEMTIME universal;
    SYSTEMTIME local;
    if (!::FileTimeToSystemTime(&utc, &universal) ||
        !::SystemTimeToTzSpecificLocalTime(nullptr, &universal, &local)) {
        return {};
    }
    char text[32];
    std::snprintf(text, sizeof text, "%04u-%02u-%02u %02u:%02u:%02u", local.wYear, local.wMonth,
                  local.wDay, local.wHour, local.wMinute, local.wSecond);
    return text;
}

} // namespace ostrapel
