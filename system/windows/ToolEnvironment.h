#pragma once

// The environment a cipher tool is started with, shared by the Windows runner and the Wine
// bridge (a program of its own, so this is header-only).

#include <algorithm>
#include <string>
#include <vector>
#include <windows.h>

namespace ostrapel::win {

// This program's environment block with TEMP and TMP naming folder, sorted by name as a block
// handed to CreateProcessW must be.
inline std::wstring EnvironmentWithTemporaryFolder(const std::wstring& folder) {
    std::vector<std::wstring> variables;
    wchar_t* current = ::GetEnvironmentStringsW();
    for (const wchar_t* at = current; at != nullptr && *at != L'\0';
         at += variables.back().size() + 1) {
        variables.emplace_back(at);
    }
    if (current != nullptr) {
        ::FreeEnvironmentStringsW(current);
    }
    auto name = [](const std::wstring& variable) {
        const std::size_t equals = variable.find(L'=', 1);
        return static_cast<int>(equals == std::wstring::npos ? variable.size() : equals);
    };
    auto named = [&](const std::wstring& variable, const wchar_t* wanted) {
        return ::CompareStringOrdinal(variable.c_str(), name(variable), wanted, -1, TRUE) ==
               CSTR_EQUAL;
    };
    std::erase_if(variables, [&](const std::wstring& variable) {
        return named(variable, L"TEMP") || named(variable, L"TMP");
    });
    variables.push_back(L"TEMP=" + folder);
    variables.push_back(L"TMP=" + folder);
    std::sort(variables.begin(), variables.end(),
              [&](const std::wstring& a, const std::wstring& b) {
                  return ::CompareStringOrdinal(a.c_str(), name(a), b.c_str(), name(b), TRUE) ==
                         CSTR_LESS_THAN;
              });
    std::wstring block;
    for (const std::wstring& variable : variables) {
        block += variable;
        block += L'\0';
    }
    return block + L'\0';
}

} // namespace ostrapel::win
