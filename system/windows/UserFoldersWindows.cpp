#include "WindowsText.h"
#include "system/Paths.h"
#include "system/UserFolders.h"

#include <cstdio>
#include <shlobj.h>
#include <utility>
#include <windows.h>

namespace ostrapel {

namespace {

// A known folder where it is now (redirected or not); empty when unknown.
std::string KnownFolder(REFKNOWNFOLDERID id, DWORD flags = KF_FLAG_DEFAULT) {
    PWSTR path = nullptr;
    if (::SHGetKnownFolderPath(id, flags, nullptr, &path) != S_OK) {
        ::CoTaskMemFree(path);
        return {};
    }
    const std::string folder = win::Utf8(path);
    ::CoTaskMemFree(path);
    return folder;
}

// %LOCALAPPDATA%\Ostrapel; empty when unknown.
std::string LocalDataFolder() {
    const std::string folder = KnownFolder(FOLDERID_LocalAppData);
    return folder.empty() ? folder : JoinPath(folder, "Ostrapel");
}

std::string Environment(const wchar_t* name) {
    const DWORD size = ::GetEnvironmentVariableW(name, nullptr, 0);
    if (size == 0) {
        return {};
    }
    std::wstring value(size, L'\0');
    const DWORD length = ::GetEnvironmentVariableW(name, value.data(), size);
    if (length == 0 || length >= size) {
        return {};
    }
    value.resize(length);
    return win::Utf8(value);
}

// Whether a cloud-files sync root holds the folder: CfGetSyncRootInfoByPath succeeds only for
// a path under one. Loaded at run time, as cldapi.dll exists from Windows 10 1709 on.
bool UnderSyncRoot(const std::string& folder) {
    using GetInfo = HRESULT(WINAPI*)(LPCWSTR, int, PVOID, DWORD, DWORD*);
    HMODULE cloud = ::LoadLibraryExW(L"cldapi.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
    if (cloud == nullptr) {
        return false;
    }
    bool under = false;
    if (auto get = reinterpret_cast<GetInfo>(
            reinterpret_cast<void*>(::GetProcAddress(cloud, "CfGetSyncRootInfoByPath")))) {
        constexpr int kBasicInfo = 0; // CF_SYNC_ROOT_INFO_BASIC: the root's file id
        LARGE_INTEGER rootId{};
        DWORD returned = 0;
        under = SUCCEEDED(
            get(win::FilePath(folder).c_str(), kBasicInfo, &rootId, sizeof rootId, &returned));
    }
    ::FreeLibrary(cloud);
    return under;
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

SyncedOrProtected SyncedOrProtectedFolders(const std::string& folder) {
    SyncedOrProtected places;
    // The folders Controlled folder access protects by default: the user's Documents, Pictures,
    // Videos, Music, Desktop and Favorites, and the Public ones. KF_FLAG_DONT_VERIFY: the path
    // even when the folder is missing, never made.
    for (REFKNOWNFOLDERID id :
         {FOLDERID_Documents, FOLDERID_Pictures, FOLDERID_Videos, FOLDERID_Music, FOLDERID_Desktop,
          FOLDERID_Favorites, FOLDERID_PublicDocuments, FOLDERID_PublicPictures,
          FOLDERID_PublicVideos, FOLDERID_PublicMusic, FOLDERID_PublicDesktop}) {
        if (std::string found = KnownFolder(id, KF_FLAG_DONT_VERIFY); !found.empty()) {
            places.folders.push_back(std::move(found));
        }
    }
    for (const wchar_t* name : {L"OneDrive", L"OneDriveConsumer", L"OneDriveCommercial"}) {
        if (std::string found = Environment(name); !found.empty()) {
            places.folders.push_back(std::move(found));
        }
    }
    places.underSyncRoot = UnderSyncRoot(folder);
    return places;
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
