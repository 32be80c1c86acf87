#include "RestoreChoices.h"

#include "Report.h"
#include "WindowTexts.h"
#include "Words.h"
#include "system/Text.h"
#include "system/UserFolders.h"

#include <algorithm>
#include <map>
#include <optional>

namespace ostrapel {

namespace {

constexpr std::size_t kNamesAsked = 5;
constexpr std::size_t kNameLength = 40; // as the report boxes cut a name

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
        // TRANSLATORS: the first few saves' names, then how many more there are.
        text = TrN("{names} and {n} more", "{names} and {n} more", names.size() - shown,
                   {{"names", text}});
    }
    return text;
}

} // namespace

std::vector<RestoreMenuItem> RestoreMenuItems(const BackupSetListing& listing, bool enabled) {
    std::vector<RestoreMenuItem> items;
    // Each save's value before the oldest conversion undone so far: what going back there
    // gives it.
    std::map<std::string, std::optional<std::int16_t>> before;
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
            for (const BackupManifest::Save& save : set.manifest.saves) {
                before[save.name] = save.before;
            }
            std::vector<std::optional<std::int16_t>> values;
            for (const auto& [name, value] : before) {
                values.push_back(value);
            }
            const VersionsBack back = VersionsBackOf(values);
            item.before = before;
            if (back.count == 1) {
                // TRANSLATORS: an item of the file list's menu that undoes conversions: the
                // DLC version the saves go back to, when the conversion was made, how many
                // saves get their originals back.
                item.text = TrN("Back to {version}, as before {time} ({n} save)",
                                "Back to {version}, as before {time} ({n} saves)", before.size(),
                                {{"time", item.when}, {"version", back.text}});
            } else if (back.count > 1) {
                // TRANSLATORS: as "Back to {version}, as before ...", the saves holding several
                // DLC versions before, e.g. "1.00, 4.00".
                item.text = TrN("Back to versions {versions}, as before {time} ({n} save)",
                                "Back to versions {versions}, as before {time} ({n} saves)",
                                before.size(), {{"time", item.when}, {"versions", back.text}});
            } else {
                // A set kept before the values were recorded: the version it set.
                const std::string version =
                    ReportedValueText(static_cast<std::int16_t>(set.manifest.value));
                // TRANSLATORS: an item of the file list's menu that undoes a conversion: when
                // it was made, how many saves it set and to which DLC version.
                item.text =
                    TrN("As they were before {time} ({n} save set to {version})",
                        "As they were before {time} ({n} saves set to {version})",
                        set.manifest.saves.size(), {{"time", item.when}, {"version", version}});
            }
        } else {
            const std::string reason = Say(set.status.phrase());
            item.text =
                Tr("A conversion whose backup cannot be used: {reason}", {{"reason", reason}});
        }
        item.text = AccessKey(items.size()) + EscapeAccessKeys(item.text);
        items.push_back(std::move(item));
    }
    if (items.empty()) {
        items.push_back({Tr(kNothingToRestore), false, {}, {}, {}});
    }
    return items;
}

std::string RestoreQuestion(const RestoreMenuItem& item, const RestorePlan& plan) {
    std::vector<std::optional<std::int16_t>> values;
    for (const std::string& name : plan.restored) {
        const auto at = item.before.find(name);
        values.push_back(at == item.before.end() ? std::nullopt : at->second);
    }
    const VersionsBack back = VersionsBackOf(values);
    std::string text =
        back.count == 1 ? Tr("Restore the saves to {version}, as they were before {time}?",
                             {{"version", back.text}, {"time", item.when}})
        : back.count > 1
            // TRANSLATORS: {versions} lists DLC versions, e.g. "1.00, 4.00".
            ? Tr("Restore the saves to versions {versions}, as they were before {time}?",
                 {{"versions", back.text}, {"time", item.when}})
            : Tr("Restore the saves as they were before {time}?", {{"time", item.when}});
    if (!plan.restored.empty()) {
        text += "\n\n" + TrN("{n} save gets its original back: {names}",
                             "{n} saves get their originals back: {names}", plan.restored.size(),
                             {{"names", NamesOf(plan.restored)}});
    }
    if (!plan.writtenSince.empty()) {
        text += "\n\n" + TrN("{n} save was written since and is left as it is: {names}",
                             "{n} saves were written since and are left as they are: {names}",
                             plan.writtenSince.size(), {{"names", NamesOf(plan.writtenSince)}});
    }
    if (plan.newerSets > 0) {
        text += "\n\n" + TrN("The later conversion is undone too.",
                             "The {n} later conversions are undone too.", plan.newerSets);
    }
    return text;
}

} // namespace ostrapel
