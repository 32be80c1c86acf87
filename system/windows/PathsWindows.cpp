#include "WindowsText.h"
#include "system/Paths.h"

#include <windows.h>

namespace ostrapel {

std::string ApplicationDirectory() {
    std::wstring buffer(MAX_PATH, L'\0');
    for (;;) {
        const DWORD length =
            ::GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
        if (length == 0) {
            return {};
        }
        if (length < buffer.size()) {
            buffer.resize(length);
            break;
        }
        if (buffer.size() >= 32768) {
            return {};
        }
        buffer.resize(buffer.size() * 2);
    }
    std::string path = win::Utf8(buffer);
    if (path.rfind("\\\\?\\", 0) == 0 && path.size() > 6 && path[5] == ':') {
        path.erase(0, 4);
    }
    return WithTrailingSeparator(ParentOf(path));
}

bool SameNamesText(std::string_view a, std::string_view b) {
    const std::wstring wideA = win::Wide(a);
    const std::wstring wideB = win::Wide(b);
    return ::CompareStringOrdinal(wideA.c_str(), static_cast<int>(wideA.size()), wideB.c_str(),
                                  static_cast<int>(wideB.size()), TRUE) == CSTR_EQUAL;
}

} // namespace ostrapel
