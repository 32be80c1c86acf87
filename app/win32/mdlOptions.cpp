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
    std::vector<std::string> utf8;
    for (const std::wstring& argument : arguments) {
        utf8.push_back(ostrapel::win::Utf8(argument));
    }
    const std::string language = ostrapel::TakeLanguageOption(utf8);
    std::vector<std::wstring> left;
    for (const std::string& argument : utf8) {
        left.push_back(ostrapel::win::Wide(argument));
    }
    arguments = std::move(left);
    return language;
}

void ChooseLanguage(std::vector<std::wstring>& arguments) {
    (void)ostrapel::UseLanguage(TakeLanguage(arguments));
}

} // namespace mdlOptions
