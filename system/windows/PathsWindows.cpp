#include "AnsiPaths.h"
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
    return CompareNamesText(a, b) == 0;
}

int CompareNamesText(std::string_view a, std::string_view b) {
    const std::wstring wideA = win::Wide(a);
    const std::wstring wideB = win::Wide(b);
    return ::CompareStringOrdinal(wideA.c_str(), static_cast<int>(wideA.size()), wideB.c_str(),
                                  static_cast<int>(wideB.size()), TRUE) -
           CSTR_EQUAL;
}

std::string NamesKeyText(std::string_view text) {
    const std::wstring wide = win::Wide(text);
    if (wide.empty()) {
        return {};
    }
    std::wstring upper(wide.size(), L'\0');
    const int length = ::LCMapStringEx(LOCALE_NAME_INVARIANT, LCMAP_UPPERCASE, wide.c_str(),
                                       static_cast<int>(wide.size()), upper.data(),
                                       static_cast<int>(upper.size()), nullptr, nullptr, 0);
    if (length <= 0) {
        return std::string(text);
    }
    upper.resize(static_cast<std::size_t>(length));
    return win::Utf8(upper);
}

namespace {

// Whether every character of the text has a place of its own in the code page.
bool SurvivesCodePage(const std::wstring& text, unsigned codePage) {
    if (text.empty()) {
        return true;
    }
    const int length = static_cast<int>(text.size());
    BOOL usedDefault = FALSE;
    // UTF-8 and UTF-7 take no default character: every character has a place in them.
    const bool unicode = codePage == CP_UTF8 || codePage == CP_UTF7;
    const DWORD flags = unicode ? 0 : WC_NO_BEST_FIT_CHARS;
    const int size = ::WideCharToMultiByte(codePage, flags, text.data(), length, nullptr, 0,
                                           nullptr, unicode ? nullptr : &usedDefault);
    if (size <= 0 || usedDefault) {
        return false;
    }
    std::string narrow(static_cast<std::size_t>(size), '\0');
    ::WideCharToMultiByte(codePage, flags, text.data(), length, narrow.data(), size, nullptr,
                          nullptr);
    std::wstring back(text.size() * 2 + 1, L'\0');
    const int backLength = ::MultiByteToWideChar(codePage, 0, narrow.data(), size, back.data(),
                                                 static_cast<int>(back.size()));
    return backLength == length && back.compare(0, text.size(), text) == 0;
}

} // namespace

std::wstring win::ShortPathOf(const std::wstring& path) {
    const DWORD size = ::GetShortPathNameW(path.c_str(), nullptr, 0);
    if (size == 0) {
        return path;
    }
    std::wstring shortPath(size, L'\0');
    const DWORD length = ::GetShortPathNameW(path.c_str(), shortPath.data(), size);
    if (length == 0 || length >= size) {
        return path;
    }
    shortPath.resize(length);
    return shortPath;
}

std::wstring win::AnsiOpenableForm(const std::wstring& path, unsigned codePage,
                                   std::wstring (*shortForm)(const std::wstring& path)) {
    if (SurvivesCodePage(path, codePage)) {
        return path;
    }
    const std::wstring shortPath = shortForm(path);
    return SurvivesCodePage(shortPath, codePage) ? shortPath : std::wstring();
}

std::wstring win::ToolPathForm(const std::wstring& path, unsigned codePage,
                               std::wstring (*shortForm)(const std::wstring& path)) {
    const std::wstring openable = AnsiOpenableForm(path, codePage, shortForm);
    return openable.empty() ? path : openable;
}

std::string PathForAnsiPrograms(const std::string& path) {
    return win::Utf8(win::AnsiOpenableForm(win::Wide(path), ::GetACP(), win::ShortPathOf));
}

} // namespace ostrapel
