#include "system/Languages.h"

#include <cstdlib>
#include <string_view>

namespace ostrapel {

std::vector<std::string> PreferredLanguages() {
    std::vector<std::string> languages;
    if (const char* list = std::getenv("LANGUAGE"); list != nullptr) {
        std::string_view rest = list;
        while (!rest.empty()) {
            const std::size_t end = rest.find(':');
            if (end != 0) {
                languages.emplace_back(rest.substr(0, end));
            }
            rest = end == std::string_view::npos ? std::string_view() : rest.substr(end + 1);
        }
    }
    for (const char* name : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
        if (const char* value = std::getenv(name); value != nullptr && *value != '\0') {
            languages.emplace_back(value);
            break;
        }
    }
    return languages;
}

} // namespace ostrapel
