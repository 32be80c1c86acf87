#include "RestoreChoices.h"

#include "Report.h"
#include "WindowTexts.h"
#include "Words.h"
#include "system/Text.h"
#include "system/UserFolders.h"

#include <algorithm>

namespace ostrapel {

namespace {

constexpr std::size_t kNamesAsked = 5;
constexpr std::size_t kNameLength = 40; // as the report boxes cut a name

std::string Saves(std::size_t count) {
    return std::to_string(count) + (count == 1 ? " save" : " saves");
}

std::string AccessKey(std::size_t index) {
    static constexpr const char* kKeys = "1234567890ABCDEFGHIJKLMNOPQRSTUVWXYZ";
    return index < 36 ? std::string("&") + kKeys[index] + " " : std::string();
}

std::string NamesOf(const std::vector<std::string>& names) {
    std::string text;
    const std::size_t shown = std::min(names.size(), kNamesAsked);
    for (std::size_t i = 0; i < shown; ++i) {
        text += (i == 0 ? "" : ", ") + Printable(ShortenedInTheMiddle(names[i], kNameLength));
    }
    if (shown < names.size()) {
        text += " and " + std::to_string(names.size() - shown) + " more";
    }
    return text;
}

} // namespace

std::vector<RestoreMenuItem> RestoreMenuItems(const BackupSetListing& listing, bool enabled) {
    std::vector<RestoreMenuItem> items;
    for (const BackupSet& set : listing.sets) {
        if (items.size() == kBackupSetsKept) {
            break;
        }
        if (set.status && set.manifest.undone) {
            continue;
        }
        RestoreMenuItem item;
        item.setFolder = set.folder;
        item.enabled = enabled && set.status.ok();
        if (set.status) {
            item.when = LocalTimeText(set.manifest.time);
            item.text = "As they were before " + item.when + " (" +
                        Saves(set.manifest.saves.size()) + " set to " +
                        ReportedValueText(static_cast<std::int16_t>(set.manifest.value)) + ")";
        } else {
            item.text = "A conversion whose backup cannot be used: " + Say(set.status.phrase());
        }
        item.text = AccessKey(items.size()) + EscapeAccessKeys(item.text);
        items.push_back(std::move(item));
    }
    if (items.empty()) {
        items.push_back({kNothingToRestore, false, {}, {}});
    }
    return items;
}

std::string RestoreQuestion(const RestoreMenuItem& item, const RestorePlan& plan) {
    std::string text = "Restore the saves as they were before " + item.when + "?";
    if (!plan.restored.empty()) {
        text += "\n\n" + Saves(plan.restored.size()) +
                (plan.restored.size() == 1 ? " gets its original" : " get their originals") +
                " back: " + NamesOf(plan.restored);
    }
    if (!plan.writtenSince.empty()) {
        text += "\n\n" + Saves(plan.writtenSince.size()) +
                (plan.writtenSince.size() == 1 ? " was" : " were") + " written since and " +
                (plan.writtenSince.size() == 1 ? "is" : "are") + " left as " +
                (plan.writtenSince.size() == 1 ? "it is" : "they are") + ": " +
                NamesOf(plan.writtenSince);
    }
    if (plan.newerSets > 0) {
        text += "\n\nThe " +
                (plan.newerSets == 1 ? std::string("later conversion is")
                                     : std::to_string(plan.newerSets) + " later conversions are") +
                " undone too.";
    }
    return text;
}

} // namespace ostrapel
