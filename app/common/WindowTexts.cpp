#include "WindowTexts.h"

#include "Report.h"
#include "conversion/DlcVersion.h"

#include <algorithm>
#include <array>

namespace ostrapel {

std::string ReadVersionText(const FileOutcome& outcome) {
    return outcome.oldValue ? DlcValueText(*outcome.oldValue) : std::string(kVersionNotRead);
}

std::optional<std::string> VersionAfterBatch(const FileOutcome& outcome) {
    if (!outcome.done() || !outcome.newValue) {
        return std::nullopt;
    }
    return DlcValueText(*outcome.newValue);
}

std::string ProgressCount(std::size_t pass, std::size_t done, std::size_t total) {
    static constexpr std::array<const char*, 4> kPasses{"Reading", "Checking", "Converting",
                                                        "Replacing"};
    return std::string(kPasses[std::min(pass, kPasses.size() - 1)]) + " " + std::to_string(done) +
           " of " + std::to_string(total) + ": ";
}

std::string WithoutAccessKey(std::string_view text) {
    std::string plain;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '&' && i + 1 < text.size()) {
            ++i; // "&&" is one '&'; "&x" is x
        }
        plain += text[i];
    }
    return plain;
}

std::string EscapeAccessKeys(std::string_view text) {
    std::string escaped;
    for (char c : text) {
        escaped += c;
        if (c == '&') {
            escaped += '&';
        }
    }
    return escaped;
}

const std::vector<FittedText>& FittedTexts() {
    static const std::vector<FittedText> texts = {
        {FittedControl::OpenLabel, kOpenLabel},     {FittedControl::VersionLabel, kVersionLabel},
        {FittedControl::ListTitle, kListTitle},     {FittedControl::ApplyButton, kApplyText},
        {FittedControl::CancelButton, kCancelText},
    };
    return texts;
}

} // namespace ostrapel
