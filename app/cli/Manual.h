#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace ostrapel {

// The text of ostrapel-cli --help and of the manual pages of ostrapel and ostrapel-cli, kept
// in one place. What --help prints is in the program's language (Words.h); the rest, and all of
// it where no language was chosen (the manual pages), in English. In terms and synopses, words
// starting with '-' are options and words in capitals are placeholders (set in bold and in italics
// on a manual page).
struct ManualEntry {
    std::string term;
    std::string text;
};

struct ManualSection {
    std::string title;
    std::vector<std::string> paragraphs; // before the entries
    std::vector<ManualEntry> entries;
    bool inHelp = false;  // also printed by --help
    bool options = false; // the options, which the completion offers
};

struct Manual {
    std::string name;    // the program's
    std::string summary; // what it does, one line
    std::vector<ManualEntry> synopsis;
    std::vector<ManualSection> sections;
};

Manual CliManual();
Manual WindowManual();

// --help: the synopsis and the sections marked for it, wrapped to fit 80 columns.
std::string HelpText(const Manual& manual);

// The manual page in roff (man macros), section 1. date: YYYY-MM-DD.
std::string ManualPage(const Manual& manual, std::string_view version, std::string_view date);

// The bash completion of ostrapel-cli: templateText with @OPTIONS@ replaced by the options
// of CliManual(), @LABELS@ by the version labels and @LANGUAGES@ by the languages --language
// takes, each list separated by blanks.
std::string Completion(std::string templateText);

} // namespace ostrapel
