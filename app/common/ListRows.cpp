#include "ListRows.h"

#include "WindowTexts.h"
#include "Words.h"

#include <utility>

namespace ostrapel {

void SetVersion(ListRow& row, std::string version) {
    // TRANSLATORS: a save's tooltip in the file list: its name and its DLC version.
    row.tooltip = Tr("{name}: {version}", {{"name", row.name}, {"version", version}});
    // TRANSLATORS: what a screen reader says for a save in the file list.
    row.accessibleName = Tr("{name}, {version}", {{"name", row.name}, {"version", version}});
    row.description.clear();
    row.version = std::move(version);
}

// A version not read takes a short mark in the list; the tooltip and the description say why.
void SetReadVersion(ListRow& row, const FileOutcome& outcome) {
    if (outcome.oldValue) {
        return SetVersion(row, ReadVersionText(outcome));
    }
    const std::string notRead = Tr(kVersionNotRead);
    row.version = Tr(kVersionNotReadMark);
    row.description = Say(outcome.reason);
    row.tooltip =
        row.description.empty()
            ? Tr("{name}: {version}", {{"name", row.name}, {"version", notRead}})
            // TRANSLATORS: a save's tooltip in the file list: its name, "not read" and why.
            : Tr("{name}: {version} ({reason})",
                 {{"name", row.name}, {"version", notRead}, {"reason", row.description}});
    row.accessibleName = Tr("{name}, {version}", {{"name", row.name}, {"version", notRead}});
}

} // namespace ostrapel
