#include "system/Languages.h"
#include "system/windows/WindowsText.h"

#include <windows.h>

namespace ostrapel {

std::vector<std::string> PreferredLanguages() {
    ULONG count = 0;
    ULONG length = 0;
    if (!GetUserPreferredUILanguages(MUI_LANGUAGE_NAME, &count, nullptr, &length) || length == 0) {
        return {};
    }
    std::wstring names(length, L'\0');
    if (!GetUserPreferredUILanguages(MUI_LANGUAGE_NAME, &count, names.data(), &length)) {
        return {};
    }
    std::vector<std::string> languages;
    for (std::size_t start = 0; start < names.size() && names[start] != L'\0';) {
        const std::size_t end = names.find(L'\0', start);
        languages.push_back(win::Utf8(names.substr(start, end - start)));
        start = end + 1;
    }
    return languages;
}

} // namespace ostrapel
