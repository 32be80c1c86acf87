#include "mdlOptions.h"

#include "Words.h"
#include "system/windows/WindowsText.h"

#include <windows.h>
// after windows.h, which it needs
#include <shellapi.h>

namespace mdlOptions {

std::vector<std::wstring> Arguments() {
    int count = 0;
    wchar_t** split = ::CommandLineToArgvW(::GetCommandLineW(), &count);
    std::vector<std::wstring> arguments;
    for (int i = 1; split != nullptr && i < count; ++i) {
        arguments.emplace_back(split[i]);
    }
    ::LocalFree(split);
    return arguments;
}

std::string TakeLanguage(std::vector<std::wstring>& arguments) {
    constexpr std::wstring_view kOption = L"--language";
    std::string language;
    for (std::size_t i = 0; i < arguments.size();) {
        const std::wstring& argument = arguments[i];
        if (argument == kOption && i + 1 < arguments.size()) {
            language = ostrapel::win::Utf8(arguments[i + 1]);
            arguments.erase(arguments.begin() + static_cast<std::ptrdiff_t>(i),
                            arguments.begin() + static_cast<std::ptrdiff_t>(i + 2));
        } else if (argument.starts_with(kOption) && argument.size() > kOption.size() &&
                   argument[kOption.size()] == L'=') {
            language = ostrapel::win::Utf8(argument.substr(kOption.size() + 1));
            arguments.erase(arguments.begin() + static_cast<std::ptrdiff_t>(i));
        } else {
            ++i;
        }
    }
    return language;
}

void ChooseLanguage(std::vector<std::wstring>& arguments) {
    (void)ostrapel::UseLanguage(TakeLanguage(arguments));
}

} // namespace mdlOptions
