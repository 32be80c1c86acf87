// Shows the window and writes a PNG of its client area:
//   ostrapel_screenshot [--language TAG] OUT.png [--loaded | --batch | --report |
//                       --report-details | --restore-menu | --restore | --restore-details]
// --language: the window's words in that language, as ostrapel.exe takes it.
// With --loaded, a sample save folder is listed, its saves' versions read and version 2.00
// chosen. --batch: the same folder being converted to 3.00, the batch caught under way.
// --report: a folder of four saves and 60 screenshots is converted to 2.00, the cipher tool
// failing on the screenshots, and the whole screen is written with the box reporting it;
// --report-details does the same with the details shown. The program serves as its own cipher
// tool (see CipherTool). Each picture is taken once what it shows has painted; one that would
// not fit the screen or comes out blank is not written (status 1).
// With OSTRAPEL_SHOT_HIGH_CONTRAST set, the picture shows the window in a dark high-contrast
// scheme. --restore-menu keeps the sample saves' originals as a batch does, then writes the window
// with the file list's right-click menu open. --restore keeps the originals of 64 saves, has the
// game write 57 of them and 3 go, restores them from the file list's menu and writes the whole
// screen with the box reporting the restore; --restore-details does the same with the details
// shown.

#include "Report.h"
#include "conversion/Backups.h"
#include "frmMain.h"
#include "mdlOptions.h"
#include "mdlReportBox.h"
#include "system/FileSystem.h"
#include "system/Paths.h"
#include "system/Sha256.h"

#include <algorithm>
#include <array>
#include <commctrl.h>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <objbase.h>
#include <shellapi.h>
#include <string>
#include <vector>
#undef SetCurrentDirectory

namespace {

std::string Utf8(const std::wstring& wide) {
    const int length =
        ::WideCharToMultiByte(CP_UTF8, 0, wide.c_str(), -1, nullptr, 0, nullptr, nullptr);
    std::string utf8(static_cast<std::size_t>(length), '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, wide.c_str(), -1, utf8.data(), length, nullptr, nullptr);
    utf8.resize(utf8.size() - 1);
    return utf8;
}

std::uint32_t Crc(const unsigned char* data, std::size_t size, std::uint32_t crc = 0) {
    static const std::array<std::uint32_t, 256> table = [] {
        std::array<std::uint32_t, 256> t{};
        for (std::uint32_t n = 0; n < 256; ++n) {
            std::uint32_t c = n;
            for (int k = 0; k < 8; ++k) {
                c = (c & 1) != 0 ? 0xEDB88320u ^ (c >> 1) : c >> 1;
            }
            t[n] = c;
        }
        return t;
    }();
    crc = ~crc;
    for (std::size_t i = 0; i < size; ++i) {
        crc = table[(crc ^ data[i]) & 0xFF] ^ (crc >> 8);
    }
    return ~crc;
}

void PutBigEndian(std::vector<unsigned char>& out, std::uint32_t value) {
    for (int shift = 24; shift >= 0; shift -= 8) {
        out.push_back(static_cast<unsigned char>(value >> shift));
    }
}

void Chunk(std::vector<unsigned char>& png, const char* type,
           const std::vector<unsigned char>& data) {
    PutBigEndian(png, static_cast<std::uint32_t>(data.size()));
    std::vector<unsigned char> body(type, type + 4);
    body.insert(body.end(), data.begin(), data.end());
    png.insert(png.end(), body.begin(), body.end());
    PutBigEndian(png, Crc(body.data(), body.size()));
}

// An RGB PNG with stored (uncompressed) deflate blocks: plain, and good enough for a picture.
std::vector<unsigned char> Png(int width, int height, const std::vector<unsigned char>& rgb) {
    std::vector<unsigned char> raw;
    for (int y = 0; y < height; ++y) {
        raw.push_back(0); // no filter
        const auto row = rgb.begin() + static_cast<std::ptrdiff_t>(y) * width * 3;
        raw.insert(raw.end(), row, row + width * 3);
    }
    std::vector<unsigned char> zlib = {0x78, 0x01};
    for (std::size_t at = 0; at < raw.size() || at == 0; at += 65535) {
        const std::size_t size = std::min<std::size_t>(65535, raw.size() - at);
        zlib.push_back(at + size >= raw.size() ? 1 : 0);
        zlib.push_back(static_cast<unsigned char>(size & 0xFF));
        zlib.push_back(static_cast<unsigned char>(size >> 8));
        zlib.push_back(static_cast<unsigned char>(~size & 0xFF));
        zlib.push_back(static_cast<unsigned char>((~size >> 8) & 0xFF));
        zlib.insert(zlib.end(), raw.begin() + static_cast<std::ptrdiff_t>(at),
                    raw.begin() + static_cast<std::ptrdiff_t>(at + size));
        if (size == 0) {
            break;
        }
    }
    std::uint32_t a = 1;
    std::uint32_t b = 0;
    for (unsigned char c : raw) {
        a = (a + c) % 65521;
        b = (b + a) % 65521;
    }
    PutBigEndian(zlib, (b << 16) | a);

    std::vector<unsigned char> png = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    std::vector<unsigned char> header;
    PutBigEndian(header, static_cast<std::uint32_t>(width));
    PutBigEndian(header, static_cast<std::uint32_t>(height));
    header.insert(header.end(), {8, 2, 0, 0, 0}); // 8-bit RGB
    Chunk(png, "IHDR", header);
    Chunk(png, "IDAT", zlib);
    Chunk(png, "IEND", {});
    return png;
}

void Pump(DWORD milliseconds);

// Waits until window and its children have no part left to paint, at most a few seconds.
void WaitPainted(HWND window) {
    ::RedrawWindow(window, nullptr, nullptr,
                   RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN | RDW_UPDATENOW);
    for (int tries = 0; tries < 100; ++tries) {
        bool pending = ::GetUpdateRect(window, nullptr, FALSE) != FALSE;
        ::EnumChildWindows(
            window,
            [](HWND child, LPARAM data) -> BOOL {
                *reinterpret_cast<bool*>(data) |= ::GetUpdateRect(child, nullptr, FALSE) != FALSE;
                return TRUE;
            },
            reinterpret_cast<LPARAM>(&pending));
        if (!pending) {
            break;
        }
        Pump(50);
    }
    Pump(250); // Wine puts what was painted on the display only a moment later
    ::GdiFlush();
}

// Writes the screen's pixels from origin, width by height, as a PNG. Fails, writing nothing, on
// an area off the screen, and on pixels all of one colour (the display had not drawn them yet)
// after waiting a few seconds for them.
bool Capture(POINT origin, int width, int height, const std::wstring& target) {
    const RECT screen{
        ::GetSystemMetrics(SM_XVIRTUALSCREEN), ::GetSystemMetrics(SM_YVIRTUALSCREEN),
        ::GetSystemMetrics(SM_XVIRTUALSCREEN) + ::GetSystemMetrics(SM_CXVIRTUALSCREEN),
        ::GetSystemMetrics(SM_YVIRTUALSCREEN) + ::GetSystemMetrics(SM_CYVIRTUALSCREEN)};
    if (origin.x < screen.left || origin.y < screen.top || origin.x + width > screen.right ||
        origin.y + height > screen.bottom) {
        std::fprintf(stderr, "the picture does not fit the screen: %dx%d at %d,%d\n", width, height,
                     static_cast<int>(origin.x), static_cast<int>(origin.y));
        return false;
    }
    HDC source = ::GetDC(nullptr);
    HDC memory = ::CreateCompatibleDC(source);
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height; // top-down
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    HBITMAP bitmap = ::CreateDIBSection(memory, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    HGDIOBJ old = ::SelectObject(memory, bitmap);
    const auto* pixels = static_cast<const std::uint32_t*>(bits);
    const auto blank = [&] {
        return std::all_of(pixels, pixels + static_cast<std::ptrdiff_t>(width) * height,
                           [first = pixels[0] & 0xFFFFFF](std::uint32_t pixel) {
                               return (pixel & 0xFFFFFF) == first;
                           });
    };
    bool copied = false;
    for (int tries = 0; tries < 60; ++tries) {
        copied =
            ::BitBlt(memory, 0, 0, width, height, source, origin.x, origin.y, SRCCOPY) != FALSE;
        ::GdiFlush();
        if (!copied || !blank()) {
            break;
        }
        Pump(50);
    }
    if (copied && blank()) {
        std::fprintf(stderr, "the picture came out blank\n");
        copied = false;
    }
    std::vector<unsigned char> rgb;
    rgb.reserve(static_cast<std::size_t>(width) * static_cast<std::size_t>(height) * 3);
    const auto* bytes = static_cast<const unsigned char*>(bits);
    for (int i = 0; i < width * height; ++i) {
        rgb.push_back(bytes[i * 4 + 2]);
        rgb.push_back(bytes[i * 4 + 1]);
        rgb.push_back(bytes[i * 4]);
    }
    ::SelectObject(memory, old);
    ::DeleteObject(bitmap);
    ::DeleteDC(memory);
    ::ReleaseDC(nullptr, source);
    if (!copied) {
        return false;
    }
    const std::vector<unsigned char> png = Png(width, height, rgb);
    std::ofstream out(std::filesystem::path(target), std::ios::binary);
    out.write(reinterpret_cast<const char*>(png.data()), static_cast<std::streamsize>(png.size()));
    return static_cast<bool>(out);
}

// The window's client area, from the screen, where the controls are drawn over the window, once
// it has painted.
bool Capture(HWND window, const std::wstring& target) {
    WaitPainted(window);
    RECT client{};
    ::GetClientRect(window, &client);
    POINT origin{0, 0};
    ::ClientToScreen(window, &origin);
    return Capture(origin, client.right, client.bottom, target);
}

void Pump(DWORD milliseconds) {
    const DWORD until = ::GetTickCount() + milliseconds;
    while (static_cast<LONG>(until - ::GetTickCount()) > 0) {
        MSG message;
        while (::PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            ::TranslateMessage(&message);
            ::DispatchMessageW(&message);
        }
        ::Sleep(10);
    }
}

// The report scenes: the boxes are modal, so a timer running inside their message loops finds
// the report box, opens its details if asked, lets them paint, writes the screen and closes them.
struct ReportScene {
    HWND owner = nullptr;
    bool details = false;
    std::wstring target;
    HWND box = nullptr;
    HWND detailsDialog = nullptr;
    DWORD shownAt = 0;
    bool written = false;
    bool done = false;
};
ReportScene* scene = nullptr;

// The first visible dialog of this thread that owner owns.
HWND DialogOwnedBy(HWND owner) {
    std::pair<HWND, HWND> found{owner, nullptr};
    ::EnumThreadWindows(
        ::GetCurrentThreadId(),
        [](HWND window, LPARAM data) -> BOOL {
            auto& [wanted, dialog] = *reinterpret_cast<std::pair<HWND, HWND>*>(data);
            wchar_t kind[16] = {};
            ::GetClassNameW(window, kind, 16);
            if (std::wstring(kind) == L"#32770" && ::IsWindowVisible(window) &&
                ::GetWindow(window, GW_OWNER) == wanted) {
                dialog = window;
                return FALSE;
            }
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&found));
    return found.second;
}

void CALLBACK StepReportScene(HWND, UINT, UINT_PTR, DWORD) {
    ReportScene& at = *scene;
    if (at.done) {
        return;
    }
    if (at.box == nullptr) {
        at.box = DialogOwnedBy(at.owner);
        if (at.box != nullptr && at.details) {
            ::PostMessageW(at.box, TDM_CLICK_BUTTON, mdlReportBox::kShowDetails, 0);
        }
        at.shownAt = ::GetTickCount();
        return;
    }
    if (at.details && at.detailsDialog == nullptr) {
        at.detailsDialog = DialogOwnedBy(at.box);
        at.shownAt = ::GetTickCount();
        return;
    }
    if (::GetTickCount() - at.shownAt < 500) {
        return;
    }
    at.done = true; // the capture below pumps messages, this timer's among them
    WaitPainted(at.detailsDialog != nullptr ? at.detailsDialog : at.box);
    at.written = Capture(POINT{0, 0}, ::GetSystemMetrics(SM_CXSCREEN),
                         ::GetSystemMetrics(SM_CYSCREEN), at.target);
    if (at.detailsDialog != nullptr) {
        ::PostMessageW(at.detailsDialog, WM_COMMAND, IDOK, 0);
    }
    ::PostMessageW(at.box, TDM_CLICK_BUTTON, IDOK, 0);
}

// The menu scene: a timer running inside the menu's loop finds it, lets it paint, writes the
// window and the menu, and closes the menu.
struct MenuScene {
    HWND window = nullptr;
    std::wstring target;
    HWND menu = nullptr;
    DWORD shownAt = 0;
    int ticks = 0;
    bool capturing = false; // the capture pumps messages, this timer's among them
    bool written = false;
};
MenuScene* menuScene = nullptr;

void CALLBACK StepMenuScene(HWND, UINT, UINT_PTR, DWORD) {
    MenuScene& at = *menuScene;
    if (at.capturing) {
        return;
    }
    if (++at.ticks > 200) {
        ::EndMenu();
        return;
    }
    if (at.menu == nullptr) {
        ::EnumThreadWindows(
            ::GetCurrentThreadId(),
            [](HWND window, LPARAM data) -> BOOL {
                wchar_t kind[16] = {};
                ::GetClassNameW(window, kind, 16);
                if (std::wstring(kind) == L"#32768" && ::IsWindowVisible(window)) {
                    *reinterpret_cast<HWND*>(data) = window;
                    return FALSE;
                }
                return TRUE;
            },
            reinterpret_cast<LPARAM>(&at.menu));
        at.shownAt = ::GetTickCount();
        return;
    }
    if (::GetTickCount() - at.shownAt < 500) {
        return;
    }
    at.capturing = true;
    WaitPainted(at.window);
    // The client area, as in the other pictures, and the menu.
    RECT window{};
    RECT menu{};
    RECT both{};
    ::GetClientRect(at.window, &window);
    ::MapWindowPoints(at.window, nullptr, reinterpret_cast<POINT*>(&window), 2);
    ::GetWindowRect(at.menu, &menu);
    ::UnionRect(&both, &window, &menu);
    at.written = Capture(POINT{both.left, both.top}, both.right - both.left, both.bottom - both.top,
                         at.target);
    ::EndMenu();
}

// Keeps the originals of the saves named in a backup set, as a batch to version 2.00 does
// before it replaces them.
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

// A save as CipherTool stores it whose field holds value; no field when size leaves no room.
std::string SaveHolding(int value, std::size_t size) {
    std::string plain(size, 's');
    if (size >= 790) {
        plain[788] = static_cast<char>(value & 0xFF);
        plain[789] = static_cast<char>(value >> 8);
    }
    for (char& c : plain) {
        c = c == '\0' ? '\1' : c == '\1' ? '\0' : c;
    }
    return plain;
}

// The cipher tool of the scenes with versions: "/decrypt:PATH" or "/encrypt:PATH" swaps the
// bytes 0 and 1 of the file at PATH, which is its own inverse and all the batch's checks ask.
// It fails on pictures, as the real one does. With OSTRAPEL_SHOT_SLOW set, enciphering takes a
// second, so a batch can be caught under way.
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

std::wstring Wide(const std::string& utf8) {
    std::wstring wide(utf8.size(), L'\0');
    wide.resize(static_cast<std::size_t>(
        ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), wide.data(),
                              static_cast<int>(wide.size()))));
    return wide;
}

// A dark high-contrast scheme for as long as it lives (OSTRAPEL_SHOT_HIGH_CONTRAST set): the
// system's colours as Windows' "High Contrast Black" has them, put back afterwards.
class HighContrastScheme {
public:
    HighContrastScheme() {
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
    ~HighContrastScheme() {
        if (!elements_.empty()) {
            ::SetSysColors(static_cast<int>(elements_.size()), elements_.data(), before_.data());
        }
    }
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

} // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
    std::vector<std::wstring> arguments = mdlOptions::Arguments();
    if (arguments.size() == 1 &&
        (arguments[0].rfind(L"/decrypt:", 0) == 0 || arguments[0].rfind(L"/encrypt:", 0) == 0)) {
        return CipherTool(arguments[0]);
    }
    mdlOptions::ChooseLanguage(arguments);
    const std::size_t given = arguments.size(); // the picture, then its scene
    const std::wstring sceneName = given == 2 ? arguments[1] : L"";
    if (given < 1 || given > 2 ||
        (given == 2 && sceneName != L"--loaded" && sceneName != L"--batch" &&
         sceneName != L"--report" && sceneName != L"--report-details" &&
         sceneName != L"--restore-menu" && sceneName != L"--restore" &&
         sceneName != L"--restore-details")) {
        std::fprintf(stderr, "usage: ostrapel_screenshot [--language TAG] OUT.png [--loaded | "
                             "--batch | --report | --report-details | --restore-menu | --restore "
                             "| --restore-details]\n");
        return 2;
    }
    const bool loaded = given == 2;
    const bool menu = sceneName == L"--restore-menu";
    const bool restore = sceneName.rfind(L"--restore", 0) == 0 && !menu;
    const bool report = sceneName.rfind(L"--report", 0) == 0 || restore;
    const bool batch = sceneName == L"--batch";
    const bool versions = sceneName == L"--loaded" || batch;
    const bool converted = sceneName.rfind(L"--report", 0) == 0; // by a real batch
    wchar_t full[MAX_PATH];
    ::GetFullPathNameW(arguments[0].c_str(), MAX_PATH, full, nullptr);
    const std::wstring target = full;

    (void)::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    INITCOMMONCONTROLSEX controls{sizeof controls, ICC_STANDARD_CLASSES | ICC_WIN95_CLASSES};
    ::InitCommonControlsEx(&controls);

    wchar_t temp[MAX_PATH];
    ::GetTempPathW(MAX_PATH, temp);
    const std::string root = ostrapel::JoinPath(
        Utf8(temp), "ostrapel-screenshot-" + std::to_string(::GetCurrentProcessId()));
    const std::string app = ostrapel::JoinPath(root, "app");
    const std::string saves = ostrapel::JoinPath(root, "saves");
    // app\\Backups makes the program folder portable: the menu scene's backups stay in the
    // temporary folder.
    const std::string backups = ostrapel::JoinPath(app, ostrapel::kPortableBackupFolder);
    for (const std::string& folder : {root, app, ostrapel::JoinPath(app, "Decrypt"),
                                      ostrapel::JoinPath(app, "Decrypt\\temp"), backups, saves}) {
        (void)ostrapel::MakeDirectory(folder);
    }
    if (versions || converted) {
        if (versions) {
            // A short profile that cannot be read, and three saves at different versions.
            const std::pair<const char*, std::string> sample[] = {
                {"profile.sav", SaveHolding(0, 100)},
                {"slot1.sav", SaveHolding(200, 4096)},
                {"slot2.sav", SaveHolding(100, 4096)},
                {"slot3.sav", SaveHolding(250, 4096)}};
            for (const auto& [name, bytes] : sample) {
                (void)ostrapel::WriteBytesAt(ostrapel::JoinPath(saves, name), 0, bytes);
            }
        } else {
            for (const char* name : {"profile.sav", "slot1.sav", "slot2.sav", "slot3.sav"}) {
                (void)ostrapel::WriteBytesAt(ostrapel::JoinPath(saves, name), 0,
                                             SaveHolding(100, 4096));
            }
            for (int i = 1; i <= 60; ++i) {
                (void)ostrapel::WriteBytesAt(
                    ostrapel::JoinPath(saves, "screenshot_" + std::to_string(i) + ".png"), 0,
                    "\x89PNG");
            }
        }
        // OSTRAPEL_SHOT_MANY: 300 more saves whose long names begin alike.
        for (int i = 1;
             i <= (::GetEnvironmentVariableW(L"OSTRAPEL_SHOT_MANY", nullptr, 0) > 0 ? 300 : 0);
             ++i) {
            char name[64];
            std::snprintf(name, sizeof name, "Autosave_Chapter03_Checkpoint_%03d.sav", i);
            (void)ostrapel::WriteBytesAt(ostrapel::JoinPath(saves, name), 0,
                                         SaveHolding(100, 4096));
        }
        wchar_t self[MAX_PATH];
        ::GetModuleFileNameW(nullptr, self, MAX_PATH);
        const std::wstring tool = Wide(ostrapel::JoinPath(app, "Decrypt\\decrypt.exe"));
        if (!::CopyFileW(self, tool.c_str(), FALSE)) {
            std::fprintf(stderr, "cannot write the cipher tool\n");
            return 1;
        }
    } else {
        for (const char* name : {"profile.sav", "slot1.sav", "slot2.sav", "slot3.sav"}) {
            (void)ostrapel::WriteBytesAt(ostrapel::JoinPath(saves, name), 0, "");
        }
    }
    std::vector<std::string> kept = {"profile.sav", "slot1.sav", "slot2.sav", "slot3.sav"};
    const auto autosave = [](int i) { return "autosave_" + std::to_string(i) + ".sav"; };
    if (restore) {
        for (int i = 1; i <= 60; ++i) {
            (void)ostrapel::WriteBytesAt(ostrapel::JoinPath(saves, autosave(i)), 0, "");
            kept.push_back(autosave(i));
        }
    }
    if ((menu || restore) && !KeepOriginals(app, saves, kept)) {
        std::fprintf(stderr, "cannot keep the sample saves' originals\n");
        return 1;
    }
    if (restore) {
        // Written by the game since, or gone: these are left alone.
        for (int i = 1; i <= 60; ++i) {
            const std::string path = ostrapel::JoinPath(saves, autosave(i));
            (void)(i <= 57 ? ostrapel::WriteBytesAt(path, 0, "written by the game")
                           : ostrapel::RemoveFile(path));
        }
    }

    int status = 1;
    {
        const HighContrastScheme contrast;
        frmMain window(instance, app,
                       std::make_shared<mdlSHBrowseForFolder::FixedFolderChooser>(saves), false);
        if (HighContrastScheme::on()) {
            // Wine reports no high contrast; the window is told it is on.
            window.setContrastProbe([] { return true; });
        }
        // No tooltip: the pointer of the virtual display rests over the window.
        ::EnumThreadWindows(
            ::GetCurrentThreadId(),
            [](HWND tips, LPARAM) -> BOOL {
                wchar_t kind[32] = {};
                ::GetClassNameW(tips, kind, 32);
                if (std::wstring(kind) == TOOLTIPS_CLASSW) {
                    ::SendMessageW(tips, TTM_ACTIVATE, FALSE, 0);
                }
                return TRUE;
            },
            0);
        ::ShowWindow(window.Handle(), SW_SHOWNORMAL);
        ::SetForegroundWindow(window.Handle());
        ::UpdateWindow(window.Handle());
        if (loaded) {
            window.Model().OpenClicked();
            for (DWORD waited = 0; window.Model().ReadingVersions() && waited < 10000;
                 waited += 50) {
                Pump(50);
            }
            HWND combo = window.Control(frmMain::kComboDLC);
            ::SendMessageW(combo, CB_SETCURSEL, batch ? 3 : 2, 0);
            ::SendMessageW(window.Handle(), WM_COMMAND,
                           MAKEWPARAM(frmMain::kComboDLC, CBN_SELCHANGE),
                           reinterpret_cast<LPARAM>(combo));
        }
        Pump(500);
        if (report) {
            ReportScene at;
            at.owner = window.Handle();
            at.target = target;
            scene = &at;
            at.details = sceneName.ends_with(L"-details");
            const UINT_PTR timer = ::SetTimer(nullptr, 0, 50, &StepReportScene);
            if (restore) {
                // The menu's newest set, its question answered; the box shows when it has ended.
                window.Model().RestoreChosen();
                for (DWORD waited = 0; !at.done && waited < 20000; waited += 50) {
                    Pump(50);
                }
                for (DWORD waited = 0; window.Model().RestoreRunning() && waited < 20000;
                     waited += 50) {
                    Pump(50);
                }
            } else {
                // Version 2.00 is chosen; the box shows when the batch has ended.
                window.Model().SaveClicked();
                for (DWORD waited = 0; !at.done && waited < 30000; waited += 50) {
                    Pump(50);
                }
                for (DWORD waited = 0; window.Model().BatchRunning() && waited < 20000;
                     waited += 50) {
                    Pump(50);
                }
            }
            ::KillTimer(nullptr, timer);
            scene = nullptr;
            status = at.written ? 0 : 1;
        } else if (menu) {
            MenuScene at;
            at.window = window.Handle();
            at.target = target;
            menuScene = &at;
            const UINT_PTR timer = ::SetTimer(nullptr, 0, 50, &StepMenuScene);
            HWND list = window.Control(frmMain::kList);
            RECT area{};
            ::GetWindowRect(list, &area);
            ::SendMessageW(list, WM_CONTEXTMENU, reinterpret_cast<WPARAM>(list),
                           MAKELPARAM(area.left + 40, area.top + 30));
            ::KillTimer(nullptr, timer);
            menuScene = nullptr;
            status = at.written ? 0 : 1;
        } else if (batch) {
            ::SetEnvironmentVariableW(L"OSTRAPEL_SHOT_SLOW", L"1");
            window.setReportPresenter([](HWND, const ostrapel::ReportBox&) {});
            window.Model().SaveClicked();
            Pump(1500);
            status = Capture(window.Handle(), target) ? 0 : 1;
            window.Model().CancelPressed();
            for (DWORD waited = 0; window.Model().BatchRunning() && waited < 20000; waited += 50) {
                Pump(50);
            }
        } else {
            status = Capture(window.Handle(), target) ? 0 : 1;
        }
    }
    (void)ostrapel::SetCurrentDirectory(Utf8(temp));
    std::error_code ignored;
    std::filesystem::remove_all(std::filesystem::path(Wide(backups)), ignored);
    for (const std::string& folder : {saves, ostrapel::JoinPath(app, "Decrypt\\temp")}) {
        (void)ostrapel::RemoveFilesIn(folder);
    }
    for (const std::string& folder : {ostrapel::JoinPath(app, "Decrypt\\temp"),
                                      ostrapel::JoinPath(app, "Decrypt"), saves, app, root}) {
        (void)ostrapel::RemoveFilesIn(folder);
        (void)ostrapel::RemoveEmptyDirectory(folder);
    }
    ::CoUninitialize();
    return status;
}
