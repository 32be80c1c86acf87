#include "WindowTexts.h"

#include "Report.h"
#include "Words.h"
#include "conversion/DlcVersion.h"

#include <algorithm>
#include <array>

namespace ostrapel {

std::string ReadVersionText(const FileOutcome& outcome) {
    return outcome.oldValue ? DlcValueText(*outcome.oldValue) : Tr(kVersionNotRead);
}

std::optional<std::string> VersionAfterBatch(const FileOutcome& outcome) {
    if (!outcome.done() || !outcome.newValue) {
        return std::nullopt;
    }
    return DlcValueText(*outcome.newValue);
}

std::string ProgressText(std::size_t pass, std::size_t done, std::size_t total) {
    // TRANSLATORS: the file list's caption during a conversion, the save's name after it; the
    // caption is 121 px wide at 100%, the shorter the better.
    static constexpr std::array<const char*, 4> kPasses{
        N_("Reading {done} of {total}"), N_("Checking {done} of {total}"),
        N_("Converting {done} of {total}"), N_("Replacing {done} of {total}")};
    const std::string doneText = std::to_string(done);
    const std::string totalText = std::to_string(total);
    return Tr(kPasses[std::min(pass, kPasses.size() - 1)],
              {{"done", doneText}, {"total", totalText}});
}

std::string ProgressOf(std::size_t done, std::size_t total) {
    const std::string doneText = std::to_string(done);
    const std::string totalText = std::to_string(total);
    // TRANSLATORS: the conversion's progress where its pass does not fit the caption.
    return Tr("{done} of {total}", {{"done", doneText}, {"total", totalText}});
}

std::string CaptionBeforeName(std::string_view caption) {
    // TRANSLATORS: a caption, then a folder's or a save's name.
    return Tr("{caption}: ", {{"caption", caption}});
}

std::string ProgressCount(std::size_t pass, std::size_t done, std::size_t total) {
    return CaptionBeforeName(ProgressText(pass, done, total));
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
        {FittedControl::FrameTitle, kFrameTitle},     {FittedControl::OpenLabel, kOpenLabel},
        {FittedControl::VersionLabel, kVersionLabel}, {FittedControl::ListTitle, kListTitle},
        {FittedControl::ApplyButton, kApplyText},     {FittedControl::CancelButton, kCancelText},
    };
    return texts;
}

} // namespace ostrapel
