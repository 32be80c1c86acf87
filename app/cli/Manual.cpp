#include "Manual.h"

#include "Words.h"
#include "conversion/Backups.h"
#include "conversion/ConvertSaves.h"
#include "conversion/DlcVersion.h"
#include "system/Paths.h"

#include <algorithm>
#include <cctype>
#include <chrono>
#include <utility>

namespace ostrapel {

namespace {

constexpr std::size_t kHelpWidth = 79;
constexpr std::size_t kHelpIndent = 6;

std::string Labels() {
    std::string labels;
    for (std::string_view label : DlcVersionTable::Labels()) {
        labels.append(labels.empty() ? "" : " ").append(label);
    }
    return labels;
}

// The languages --language takes: "en" and those the program carries.
std::string Languages() {
    std::string languages = "en";
    for (const std::string& language : AvailableLanguages()) {
        languages.append(" ").append(language);
    }
    return languages;
}

std::string ToolPath() {
    return std::string("Decrypt") + kPathSeparator + "decrypt.exe";
}

ManualSection ProgramFolderSection() {
    ManualSection section{Tr("Program folder"), {}, {}, true};
#ifdef _WIN32
    section.paragraphs.push_back(
        Tr("The cipher tool (not part of Ostrapel) is {tool} beside this program, run as "
           "decrypt.exe /decrypt:PATH and decrypt.exe /encrypt:PATH. Decrypt\\temp is the work "
           "folder.",
           {{"tool", ToolPath()}}));
#else
    section.paragraphs.push_back(
        Tr("The cipher tool (not part of Ostrapel) is {tool} in the program folder, run as "
           "decrypt.exe /decrypt:PATH and decrypt.exe /encrypt:PATH; Decrypt/temp is the work "
           "folder, made when missing. A Windows cipher tool runs through Wine.",
           {{"tool", ToolPath()}}));
    section.paragraphs.push_back(
        Tr("The program folder is the folder of the running program when it holds a Decrypt "
           "folder (a portable copy). Otherwise, as for an installed program, it is "
           "$XDG_DATA_HOME/ostrapel, or ~/.local/share/ostrapel when XDG_DATA_HOME is not set; "
           "an installed program never writes beside itself. A save folder inside the program "
           "folder is refused."));
#endif
    return section;
}

ManualSection BackupSection(bool window) {
    ManualSection section{"Backups and undo", {}, {}, false};
    section.paragraphs.push_back(
        "Every conversion keeps the originals of the saves it replaces, before it replaces the "
        "first, in a new backup set, and its report ends by saying where. The backups are kept "
        "in $OSTRAPEL_BACKUP_DIR when it is set; otherwise in a Backups folder in the program "
        "folder when there is one (a portable copy); otherwise in "
        "$XDG_DATA_HOME/ostrapel/backups, or ~/.local/share/ostrapel/backups. Never inside the "
        "save folder. The " +
        std::to_string(kBackupSetsKept) + " newest sets of each save folder are kept.");
    section.paragraphs.push_back(
        std::string(window ? "To undo, right-click the file list (or press Shift+F10) and choose "
                             "the conversion to go back before, by its date and time (choosing "
                             "an older one undoes the newer ones too), or run "
                           : "To undo, run ") +
        "ostrapel-cli --restore FOLDER" +
        (window ? ". Each run"
                : ", which undoes the newest conversion of FOLDER not undone yet; "
                  "each run") +
        " walks one conversion further back. A save written since the conversion is left "
        "alone, and its original stays in the set.");
    return section;
}

ManualSection EnvironmentSection() {
    return {"Environment",
            {},
            {{"LANGUAGE", "The languages to show the messages in, most preferred first, separated "
                          "by colons (de:fr); before the others, unless --language names one."},
             {"LC_ALL, LC_MESSAGES, LANG",
              "The first of them that is set names the language when LANGUAGE names none the "
              "program carries. A regional variant falls back to its language (de_AT to de); "
              "with no match, English."},
             {"OSTRAPEL_BACKUP_DIR", "The folder backups are kept in, when set and not empty."},
             {"WINE", "The Wine program to run a Windows cipher tool with (default: wine from "
                      "PATH)."},
             {"WINEPREFIX", "The Wine prefix (default: ~/.wine)."},
             {"XDG_DATA_HOME",
              "Where the per-user program folder and backups are (default: ~/.local/share)."}},
            false};
}

std::string RoffEscaped(std::string_view text, bool option) {
    std::string escaped;
    for (char c : text) {
        if (c == '\\') {
            escaped += "\\e";
        } else if (c == '-' && option) {
            escaped += "\\-";
        } else {
            escaped += c;
        }
    }
    return escaped;
}

bool IsPlaceholder(std::string_view word) {
    bool letter = false;
    for (char c : word) {
        if (std::islower(static_cast<unsigned char>(c))) {
            return false;
        }
        letter = letter || std::isupper(static_cast<unsigned char>(c));
    }
    return letter;
}

// Words starting with '-' in bold, words in capitals in italics.
std::string RoffMarked(std::string_view line) {
    std::string marked;
    std::size_t i = 0;
    while (i < line.size()) {
        const std::size_t start = line.find_first_not_of(" []|", i);
        marked.append(line.substr(i, std::min(start, line.size()) - i));
        if (start == std::string_view::npos) {
            break;
        }
        std::size_t end = line.find_first_of(" []|", start);
        end = end == std::string_view::npos ? line.size() : end;
        const std::string_view word = line.substr(start, end - start);
        if (word[0] == '-') {
            marked += "\\fB" + RoffEscaped(word, true) + "\\fR";
        } else if (IsPlaceholder(word)) {
            marked += "\\fI" + RoffEscaped(word, false) + "\\fR";
        } else {
            marked += RoffEscaped(word, false);
        }
        i = end;
    }
    return marked;
}

// A text line of the page: escaped, and kept from reading as a request.
std::string RoffText(std::string_view text) {
    std::string line = RoffEscaped(text, false);
    // Options named in running text are set as options.
    for (std::size_t at = line.find(" --"); at != std::string::npos; at = line.find(" --", at)) {
        std::size_t end = line.find_first_of(" ,;.)", at + 1);
        end = end == std::string::npos ? line.size() : end;
        std::string option = line.substr(at + 1, end - at - 1);
        std::string shown = "\\fB" + RoffEscaped(option, true) + "\\fR";
        line.replace(at + 1, option.size(), shown);
        at += 1 + shown.size();
    }
    if (!line.empty() && (line[0] == '.' || line[0] == '\'')) {
        line.insert(0, "\\&");
    }
    return line;
}

std::string Upper(std::string_view text) {
    std::string upper(text);
    for (char& c : upper) {
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    }
    return upper;
}

// The code point at text[at] and the bytes it takes; a stray byte stands for itself.
std::pair<char32_t, std::size_t> CodePointAt(std::string_view text, std::size_t at) {
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
    const unsigned char lead = byte(at);
    const std::size_t length = lead < 0x80    ? 1
                               : lead >= 0xF0 ? 4
                               : lead >= 0xE0 ? 3
                               : lead >= 0xC0 ? 2
                                              : 1;
    if (length == 1 || at + length > text.size()) {
        return {lead, 1};
    }
    char32_t code = lead & (0x7F >> length);
    for (std::size_t i = 1; i < length; ++i) {
        if ((byte(at + i) & 0xC0) != 0x80) {
            return {lead, 1};
        }
        code = (code << 6) | (byte(at + i) & 0x3F);
    }
    return {code, length};
}

// Characters a terminal shows two columns wide: Hangul, CJK, kana, full-width forms.
bool IsWide(char32_t c) {
    return (c >= 0x1100 && c <= 0x115F) || (c >= 0x2E80 && c <= 0xA4CF) ||
           (c >= 0xAC00 && c <= 0xD7A3) || (c >= 0xF900 && c <= 0xFAFF) ||
           (c >= 0xFE30 && c <= 0xFE4F) || (c >= 0xFF00 && c <= 0xFF60) ||
           (c >= 0xFFE0 && c <= 0xFFE6) || (c >= 0x20000 && c <= 0x3FFFD);
}

// What a Chinese or Japanese line must not start with: closing punctuation, the long vowel mark,
// the iteration mark, the middle dot and the small kana.
bool ClosesText(char32_t c) {
    static constexpr char32_t kSmallKana[] = {0x3041, 0x3043, 0x3045, 0x3047, 0x3049, 0x3063,
                                              0x3083, 0x3085, 0x3087, 0x308E, 0x3095, 0x3096,
                                              0x30A1, 0x30A3, 0x30A5, 0x30A7, 0x30A9, 0x30C3,
                                              0x30E3, 0x30E5, 0x30E7, 0x30EE, 0x30F5, 0x30F6};
    for (char32_t small : kSmallKana) {
        if (c == small) {
            return true;
        }
    }
    return (c >= 0x3001 && c <= 0x3002) || c == 0x3005 || c == 0x3009 || c == 0x300B ||
           c == 0x300D || c == 0x300F || c == 0x3011 || c == 0x30FB || c == 0x30FC || c == 0xFF01 ||
           c == 0xFF09 || c == 0xFF0C || c == 0xFF0E || c == 0xFF1A || c == 0xFF1B || c == 0xFF1F;
}

// text wrapped to kHelpWidth columns, every line indented by indent. Lines break at blanks, and
// between wide characters (Chinese and Japanese have no blanks), but not before closing
// punctuation.
std::string Wrapped(std::string_view text, std::size_t indent) {
    // Words of narrow characters, and wide characters one by one, each with the closing
    // punctuation that follows it.
    struct Piece {
        std::size_t start = 0;
        std::size_t length = 0;
        std::size_t columns = 0;
        bool blankBefore = false;
        bool narrow = false;
    };
    std::vector<Piece> pieces;
    bool blank = false;
    for (std::size_t i = 0; i < text.size();) {
        if (text[i] == ' ') {
            blank = true;
            ++i;
            continue;
        }
        const auto [code, length] = CodePointAt(text, i);
        const bool wide = IsWide(code);
        const bool joins =
            !pieces.empty() && !blank && (ClosesText(code) || (!wide && pieces.back().narrow));
        if (joins) {
            pieces.back().length += length;
            pieces.back().columns += wide ? 2 : 1;
        } else {
            pieces.push_back({i, length, wide ? 2u : 1u, blank, !wide});
        }
        blank = false;
        i += length;
    }
    std::string wrapped;
    std::string line(indent, ' ');
    std::size_t columns = indent;
    for (const Piece& piece : pieces) {
        const std::size_t separator = columns > indent && piece.blankBefore ? 1 : 0;
        if (columns > indent && columns + separator + piece.columns > kHelpWidth) {
            wrapped += line + '\n';
            line.assign(indent, ' ');
            columns = indent;
        } else if (separator != 0) {
            line += ' ';
            columns += 1;
        }
        line.append(text.substr(piece.start, piece.length));
        columns += piece.columns;
    }
    return wrapped + line + '\n';
}

} // namespace

Manual CliManual() {
    Manual manual;
    manual.name = "ostrapel-cli";
    manual.summary = "set the DLC version of every save file in a folder";
    manual.synopsis = {
        {"ostrapel-cli [--tool-timeout SECONDS] [--jobs N] [--force] --dlc LABEL FOLDER",
         // TRANSLATORS: --help. Keep the options (--dlc) and the words in capitals (FOLDER,
         // LABEL, N, SECONDS, TAG) as they are: they name what the command line holds.
         Tr("set the DLC version of every save in FOLDER")},
        {"ostrapel-cli [--tool-timeout SECONDS] [--jobs N] --show FOLDER",
         Tr("print the DLC version of every save in FOLDER")},
        {"ostrapel-cli --list [--null] FOLDER", Tr("print the saves of FOLDER, one per line")},
        {"ostrapel-cli --restore FOLDER",
         Tr("undo the newest conversion of FOLDER not undone yet")},
        {"ostrapel-cli --backups FOLDER", Tr("list the backup sets of FOLDER, newest first")},
        {"ostrapel-cli --help | --version", Tr("print this help or the version")},
    };
    manual.sections.push_back(
        {"Description",
         {"ostrapel-cli sets the DLC version of every save in a folder. Each save is copied into "
          "the work folder, deciphered by the cipher tool, given the version and enciphered "
          "again, and replaces the save only when every step succeeded and the result was "
          "checked. One line per save tells its outcome as it is known; the report then names "
          "every save not changed and why."},
         {},
         false});
    ManualSection options{
        Tr("Options"),
        {},
        {{"--dlc LABEL",
          Tr("Set every save in FOLDER to LABEL, one of {labels}.", {{"labels", Labels()}})},
         {"--show",
          Tr("Print the DLC version of every save in FOLDER; the saves are not touched.")},
         {"--list", Tr("Print the saves of FOLDER a conversion would take, in its order.")},
         {"--null", Tr("With --list: print the raw names, each ended by a NUL byte.")},
         {"--restore", Tr("Undo the newest conversion of FOLDER not undone yet.")},
         {"--backups", Tr("List the backup sets of FOLDER, newest first.")},
         {"--tool-timeout SECONDS",
          Tr("How long one run of the cipher tool may take before it is ended (default "
             "{seconds}; fractions allowed).",
             {{"seconds", std::to_string(std::chrono::seconds(kDefaultToolTimeLimit).count())}})},
         {"--jobs N", Tr("Run the cipher tool on up to N saves at once (1 to {max}; default one "
                         "per logical processor, at most 8). With several, a save whose tool run "
                         "failed is tried once more alone.",
                         {{"max", std::to_string(kMaxJobs)}})},
         {"--force",
          Tr("With --dlc: convert even when most saves read as no known version, which a cipher "
             "tool meant for other saves gives; without it nothing is changed then (exit status "
             "3).")},
         {"--language TAG",
          Tr("Show the messages in the language TAG, one of {languages}, instead of the "
             "system's. What scripts read is the same in every language.",
             {{"languages", Languages()}})},
         {"--help", Tr("Print this help and exit.")},
         {"--version", Tr("Print the version and exit.")}},
        true};
    options.options = true;
    manual.sections.push_back(std::move(options));
    manual.sections.push_back(
        {Tr("Exit status"),
         {},
         {{"0", Tr("Every save was changed or already at LABEL (--show: every save was read); "
                   "--restore: every save was restored.")},
#ifdef _WIN32
          {"1", Tr("Some save was not changed (not read, not restored), the cipher tool is "
                   "missing, a restore only passed over sets that undo nothing, or the "
                   "conversion was cancelled otherwise than by Ctrl-C.")},
          {"2", Tr("Bad usage or a folder that cannot be used; nothing was touched. --restore: "
                   "nothing to undo.")},
#else
          {"1", Tr("Some save was not changed (not read, not restored), the cipher tool is "
                   "missing, a restore only passed over sets that undo nothing, or the "
                   "conversion was cancelled by SIGTERM or SIGHUP.")},
          {"2", Tr("Bad usage or a folder that cannot be used, or a Windows cipher tool and no "
                   "Wine; nothing was touched. --restore: nothing to undo.")},
#endif
          {"3", Tr("Most saves read as no known version, so the cipher tool may not be the one "
                   "for these saves, and --force was not given; nothing was changed.")},
          {"130", Tr("The conversion was cancelled by Ctrl-C (SIGINT).")}},
         true});
    manual.sections.push_back(ProgramFolderSection());
    manual.sections.push_back(BackupSection(false));
    manual.sections.push_back(
        {"Languages",
         {"Messages are in the language the system prefers (see ENVIRONMENT) or the one "
          "--language names, and in English where the program carries no translation.",
          "What scripts read is the same in every language: the output of --list and --list "
          "--null (the names as they are), the lines of --show (NAME: and the version label, or "
          "a number for a value outside the table; only the words for a save not read are "
          "translated), --version, the exit statuses and the manifests of the backup sets. "
          "Progress lines, reports, errors, --backups and --help are in the chosen language; a "
          "script that reads them runs ostrapel-cli --language en."},
         {},
         false});
    manual.sections.push_back(EnvironmentSection());
    manual.sections.push_back({"See also", {"ostrapel(1)"}, {}, false});
    return manual;
}

Manual WindowManual() {
    Manual manual;
    manual.name = "ostrapel";
    manual.summary = "set the DLC version of every save file in a folder, in a window";
    manual.synopsis = {{"ostrapel [--language TAG]", ""}};
    manual.sections.push_back(
        {"Description",
         {"ostrapel opens a window. Choose the save folder with the open "
          "button, pick the DLC version from the drop-down list and press \"Apply and Save\". "
          "Each save is copied into the work folder, deciphered by the cipher tool, given the "
          "version and enciphered again, and replaces the save only when every step succeeded "
          "and the result was checked. The report box then names every save not changed and "
          "why.",
          "ostrapel-cli(1) does the same from a terminal."},
         {},
         false});
    manual.sections.push_back(
        {"Options",
         {},
         {{"--language TAG", "Show the window in the language TAG, one of " + Languages() +
                                 ", instead of the system's (see ENVIRONMENT)."}},
         false});
    manual.sections.push_back(ProgramFolderSection());
    manual.sections.push_back(BackupSection(true));
    manual.sections.push_back(EnvironmentSection());
    manual.sections.push_back({"See also", {"ostrapel-cli(1)"}, {}, false});
    return manual;
}

std::string HelpText(const Manual& manual) {
    std::string text = Tr("Usage:") + '\n';
    for (const ManualEntry& usage : manual.synopsis) {
        text += "  " + usage.term + '\n' + Wrapped(usage.text, kHelpIndent);
    }
    for (const ManualSection& section : manual.sections) {
        if (!section.inHelp) {
            continue;
        }
        // TRANSLATORS: a heading of --help, such as "Options:".
        text += '\n' + Tr("{section}:", {{"section", section.title}}) + '\n';
        for (std::size_t i = 0; i < section.paragraphs.size(); ++i) {
            text.append(i > 0 ? "\n" : "").append(Wrapped(section.paragraphs[i], 2));
        }
        for (const ManualEntry& entry : section.entries) {
            if (entry.term.size() + 3 <= kHelpIndent) {
                // Short terms share their first line with the text.
                std::string first = Wrapped(entry.text, kHelpIndent);
                text += "  " + entry.term + first.substr(2 + entry.term.size());
            } else {
                text += "  " + entry.term + '\n' + Wrapped(entry.text, kHelpIndent);
            }
        }
    }
    return text;
}

std::string Completion(std::string templateText) {
    std::string options;
    for (const ManualSection& section : CliManual().sections) {
        if (section.options) {
            for (const ManualEntry& entry : section.entries) {
                options.append(options.empty() ? "" : " ")
                    .append(entry.term.substr(0, entry.term.find(' ')));
            }
        }
    }
    for (const auto& [key, value] :
         {std::pair{"@OPTIONS@", options}, {"@LABELS@", Labels()}, {"@LANGUAGES@", Languages()}}) {
        for (std::size_t at = templateText.find(key); at != std::string::npos;
             at = templateText.find(key, at + value.size())) {
            templateText.replace(at, std::string_view(key).size(), value);
        }
    }
    return templateText;
}

std::string ManualPage(const Manual& manual, std::string_view version, std::string_view date) {
    std::string page = ".TH " + RoffEscaped(Upper(manual.name), true) + " 1 \"" +
                       std::string(date) + "\" \"Ostrapel " + std::string(version) +
                       "\" \"User Commands\"\n.nh\n";
    page +=
        ".SH NAME\n" + RoffEscaped(manual.name, true) + " \\- " + RoffText(manual.summary) + '\n';
    page += ".SH SYNOPSIS\n.nf\n";
    for (const ManualEntry& usage : manual.synopsis) {
        std::string_view rest = usage.term;
        rest.remove_prefix(std::min(rest.size(), manual.name.size()));
        page += "\\fB" + RoffEscaped(manual.name, true) + "\\fR" + RoffMarked(rest) + '\n';
    }
    page += ".fi\n";
    for (const ManualSection& section : manual.sections) {
        page += ".SH " + Upper(section.title) + '\n';
        bool first = true;
        for (const std::string& paragraph : section.paragraphs) {
            page.append(first ? "" : ".PP\n").append(RoffText(paragraph)).append("\n");
            first = false;
        }
        for (const ManualEntry& entry : section.entries) {
            page += ".TP\n" + RoffMarked(entry.term) + '\n' + RoffText(entry.text) + '\n';
        }
    }
    return page;
}

} // namespace ostrapel
