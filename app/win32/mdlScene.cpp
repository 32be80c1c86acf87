#include "mdlScene.h"

#include "SampleSave.h"
#include "conversion/Backups.h"
#include "system/FileSystem.h"
#include "system/Paths.h"
#include "system/Sha256.h"

#include <filesystem>
#include <fstream>
#include <iterator>
#include <utility>

namespace mdlScene {

bool KeepOriginals(const std::string& app, const std::string& saves,
                   const std::vector<std::string>& names) {
    std::vector<ostrapel::SaveToKeep> kept;
    for (const std::string& name : names) {
        const std::string save = ostrapel::JoinPath(saves, name);
        const auto identity = ostrapel::IdentityOf(save);
        std::string content;
        if (!identity || !ostrapel::ReadWholeFile(save, content)) {
            return false;
        }
        // The set records the hash of what the batch would have written.
        kept.push_back(
            {name, ostrapel::Sha256Hex("converted"), *identity, ostrapel::Sha256Of(content), 100});
    }
    ostrapel::BackupWriter writer(ostrapel::BackupFolderFor(app), saves, 200);
    for (const ostrapel::Phrase& reason : writer.keep(kept)) {
        if (!reason.empty()) {
            return false;
        }
    }
    writer.finish(std::vector<bool>(kept.size(), true));
    return true;
}

std::string SaveHolding(int value, std::size_t size) {
    return ostrapel::SampleSaveHolding(value, size);
}

int CipherTool(const std::wstring& argument) {
    const bool encipher = argument.rfind(L"/encrypt:", 0) == 0;
    const std::filesystem::path path(argument.substr(argument.find(L':') + 1));
    if (path.extension() == L".png") {
        return 3;
    }
    if (encipher && ::GetEnvironmentVariableW(L"OSTRAPEL_SHOT_SLOW", nullptr, 0) > 0) {
        ::Sleep(1000);
    }
    std::string bytes;
    {
        std::ifstream in(path, std::ios::binary);
        bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
        if (!in.good() && !in.eof()) {
            return 2;
        }
    }
    for (char& c : bytes) {
        c = c == '\0' ? '\1' : c == '\1' ? '\0' : c;
    }
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    return out ? 0 : 2;
}

HighContrastScheme::HighContrastScheme() {
    if (!on()) {
        return;
    }
    const std::pair<int, COLORREF> scheme[] = {{COLOR_WINDOW, RGB(0, 0, 0)},
                                               {COLOR_WINDOWTEXT, RGB(255, 255, 255)},
                                               {COLOR_BTNFACE, RGB(0, 0, 0)},
                                               {COLOR_BTNTEXT, RGB(255, 255, 255)},
                                               {COLOR_HIGHLIGHT, RGB(26, 235, 255)},
                                               {COLOR_HIGHLIGHTTEXT, RGB(0, 0, 0)},
                                               {COLOR_GRAYTEXT, RGB(63, 242, 63)},
                                               {COLOR_WINDOWFRAME, RGB(255, 255, 255)},
                                               {COLOR_3DSHADOW, RGB(255, 255, 255)},
                                               {COLOR_3DHILIGHT, RGB(255, 255, 255)},
                                               {COLOR_3DDKSHADOW, RGB(255, 255, 255)},
                                               {COLOR_3DLIGHT, RGB(255, 255, 255)},
                                               {COLOR_ACTIVECAPTION, RGB(26, 235, 255)},
                                               {COLOR_CAPTIONTEXT, RGB(0, 0, 0)},
                                               {COLOR_HOTLIGHT, RGB(255, 255, 0)}};
    for (const auto& [element, colour] : scheme) {
        elements_.push_back(element);
        before_.push_back(::GetSysColor(element));
        colours_.push_back(colour);
    }
    ::SetSysColors(static_cast<int>(elements_.size()), elements_.data(), colours_.data());
}

HighContrastScheme::~HighContrastScheme() {
    if (!elements_.empty()) {
        ::SetSysColors(static_cast<int>(elements_.size()), elements_.data(), before_.data());
    }
}

} // namespace mdlScene
