#pragma once

#include <cstddef>
#include <string>
#include <vector>
#include <windows.h>

// What the screenshot tool's scenes are made of: sample saves, the stand-in cipher tool, the
// originals a batch keeps, a dark high-contrast scheme.
namespace mdlScene {

// Keeps the originals of the saves named in a backup set, as a batch to version 2.00 does
// before it replaces them.
bool KeepOriginals(const std::string& app, const std::string& saves,
                   const std::vector<std::string>& names);

// A save as CipherTool stores it whose field holds value; no field when size leaves no room.
std::string SaveHolding(int value, std::size_t size);

// The cipher tool of the scenes with versions: "/decrypt:PATH" or "/encrypt:PATH" swaps the
// bytes 0 and 1 of the file at PATH, which is its own inverse and all the batch's checks ask.
// It fails on pictures, as the real one does. With OSTRAPEL_SHOT_SLOW set, enciphering takes a
// second, so a batch can be caught under way.
int CipherTool(const std::wstring& argument);

// A dark high-contrast scheme for as long as it lives (OSTRAPEL_SHOT_HIGH_CONTRAST set): the
// system's colours as Windows' "High Contrast Black" has them, put back afterwards.
class HighContrastScheme {
public:
    HighContrastScheme();
    ~HighContrastScheme();
    HighContrastScheme(const HighContrastScheme&) = delete;
    HighContrastScheme& operator=(const HighContrastScheme&) = delete;
    static bool on() {
        return ::GetEnvironmentVariableW(L"OSTRAPEL_SHOT_HIGH_CONTRAST", nullptr, 0) > 0;
    }

private:
    std::vector<int> elements_;
    std::vector<COLORREF> before_;
    std::vector<COLORREF> colours_;
};

} // namespace mdlScene
