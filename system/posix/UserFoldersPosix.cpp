#include "system/Paths.h"
#include "system/UserFolders.h"

#include <cstdlib>
#include <ctime>
#include <pwd.h>
#include <unistd.h>

namespace ostrapel {

std::string DefaultBackupFolder() {
    const char* data = std::getenv("XDG_DATA_HOME");
    if (data != nullptr && data[0] == '/') {
        return JoinPath(JoinPath(data, "ostrapel"), "backups");
    }
    std::string home;
    if (const char* env = std::getenv("HOME"); env != nullptr && env[0] == '/') {
        home = env;
    } else if (const passwd* user = ::getpwuid(::getuid());
               user != nullptr && user->pw_dir != nullptr && user->pw_dir[0] == '/') {
        home = user->pw_dir;
    } else {
        return {};
    }
    return JoinPath(JoinPath(JoinPath(JoinPath(home, ".local"), "share"), "ostrapel"), "backups");
}

std::string LocalTimeText(std::int64_t secondsSinceEpoch) {
    const std::time_t moment = static_cast<std::time_t>(secondsSinceEpoch);
    std::tm local{};
    if (::localtime_r(&moment, &local) == nullptr) {
        return {};
    }
    char text[32];
    const std::size_t length = std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &local);
    return std::string(text, length);
}

} // namespace ostrapel
