#include "system/Paths.h"

#include <climits>
#include <unistd.h>

namespace ostrapel {

std::string ApplicationDirectory() {
    std::string buffer(PATH_MAX, '\0');
    ssize_t length = readlink("/proc/self/exe", buffer.data(), buffer.size());
    if (length <= 0 || static_cast<std::size_t>(length) >= buffer.size()) {
        return {};
    }
    buffer.resize(static_cast<std::size_t>(length));
    return WithTrailingSeparator(ParentOf(buffer));
}

bool SameNamesText(std::string_view a, std::string_view b) {
    return a == b;
}

std::string NamesKeyText(std::string_view text) {
    return std::string(text);
}

int CompareNamesText(std::string_view a, std::string_view b) {
    return a.compare(b);
}

std::string PathForAnsiPrograms(const std::string& path) {
    return path;
}

} // namespace ostrapel
