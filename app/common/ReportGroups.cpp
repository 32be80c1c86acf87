// The entries a batch left alone, grouped by cause, and the summaries of those groups.

#include "Report.h"
#include "ReportInternal.h"
#include "Words.h"
#include "system/Text.h"

#include <algorithm>
#include <map>

namespace ostrapel {

namespace {

std::string Files(std::size_t count) {
    return TrN("{n} file", "{n} files", count);
}

// "NAME, NAME, NAME and N more": the first named of the group's entries, and how many more.
std::string NamesOf(const std::vector<std::string>& names, std::size_t more) {
    std::string list;
    for (const std::string& name : names) {
        // TRANSLATORS: names of files listed one after another; {name} is the next one.
        list = list.empty() ? name : Tr("{list}, {name}", {{"list", list}, {"name", name}});
    }
    if (more == 0) {
        return list;
    }
    // TRANSLATORS: {names} lists file names; {n} files more are not named.
    return TrN("{names} and {n} more", "{names} and {n} more", more, {{"names", list}});
}

constexpr std::string_view kIndent = "    ";

} // namespace

std::vector<EntryLeft> EntriesNotChanged(const std::vector<FileOutcome>& files) {
    std::vector<EntryLeft> entries;
    for (const FileOutcome& file : files) {
        if (!file.done()) {
            entries.push_back({file.name, file.reason, !file.oldValue});
        }
    }
    return entries;
}

bool NotReadAsSave(const EntryLeft& entry) {
    return entry.unread && ToolRefused(entry.reason);
}

bool NotReadAsSave(const FileOutcome& file) {
    return !file.done() && NotReadAsSave(EntryLeft{file.name, file.reason, !file.oldValue});
}

Phrase CauseOf(const EntryLeft& entry) {
    // The tool's words that name the entry are its own; our words before them say what went
    // wrong.
    ToolSaying saying = SplitToolWords(entry.reason);
    if (entry.name.empty() || saying.words.find(entry.name) == std::string::npos) {
        return entry.reason;
    }
    return std::move(saying.ours);
}

std::vector<ReasonGroup> GroupByReason(const std::vector<EntryLeft>& entries) {
    std::vector<ReasonGroup> groups;
    // Keyed by the phrase's English: its templates and parameters, whatever the language.
    std::map<std::string, std::size_t> groupOf;
    for (std::size_t i = 0; i < entries.size(); ++i) {
        Phrase cause = CauseOf(entries[i]);
        auto [at, added] = groupOf.try_emplace(cause.English(), groups.size());
        if (added) {
            groups.push_back({std::move(cause), {}});
        }
        groups[at->second].entries.push_back(i);
    }
    // Groups stand in the order of their first entries; a stable sort keeps it among equals.
    std::stable_sort(groups.begin(), groups.end(), [](const ReasonGroup& a, const ReasonGroup& b) {
        return a.entries.size() > b.entries.size();
    });
    return groups;
}

std::vector<ReasonGroup> GroupByReason(const std::vector<FileOutcome>& files) {
    std::vector<std::size_t> outcomeOf;
    for (std::size_t i = 0; i < files.size(); ++i) {
        if (!files[i].done()) {
            outcomeOf.push_back(i);
        }
    }
    std::vector<ReasonGroup> groups = GroupByReason(EntriesNotChanged(files));
    for (ReasonGroup& group : groups) {
        for (std::size_t& entry : group.entries) {
            entry = outcomeOf[entry];
        }
    }
    return groups;
}

std::string GroupedSummary(const std::vector<EntryLeft>& entries, const SummaryLimits& limits) {
    const std::vector<ReasonGroup> groups = GroupByReason(entries);
    std::vector<std::string> lines;
    const std::size_t shown = std::min(groups.size(), limits.groups);
    for (std::size_t g = 0; g < shown; ++g) {
        const ReasonGroup& group = groups[g];
        const std::string files = Files(group.entries.size());
        const std::string reason =
            Printable(ShortenedAtTheEnd(Say(group.reason), limits.reasonLength));
        const std::size_t named = std::min(group.entries.size(), limits.namesPerGroup);
        std::vector<std::string> names;
        for (std::size_t n = 0; n < named; ++n) {
            names.push_back(
                Printable(ShortenedInTheMiddle(entries[group.entries[n]].name, limits.nameLength)));
        }
        lines.push_back(named == 0 ? Tr("{files}: {reason}", {{"files", files}, {"reason", reason}})
                                   : Tr("{files}: {reason}: {names}",
                                        {{"files", files},
                                         {"reason", reason},
                                         {"names", NamesOf(names, group.entries.size() - named)}}));
    }
    if (shown < groups.size()) {
        std::size_t rest = 0;
        for (std::size_t g = shown; g < groups.size(); ++g) {
            rest += groups[g].entries.size();
        }
        const std::size_t reasons = groups.size() - shown;
        const std::string files = Files(rest);
        lines.push_back(shown > 0
                            ? TrN("{files} for {n} other reason", "{files} for {n} other reasons",
                                  reasons, {{"files", files}})
                            : TrN("{files} for {n} reason", "{files} for {n} reasons", reasons,
                                  {{"files", files}}));
    }
    std::string summary;
    for (const std::string& line : lines) {
        summary += (summary.empty() ? "" : "\n") + line;
    }
    return summary;
}

ReasonWords SplitReason(const Phrase& reason) {
    ToolSaying saying = SplitToolWords(reason);
    return {Say(saying.ours), std::move(saying.words)};
}

std::string ReadableSummary(const std::vector<EntryLeft>& given, const SummaryLimits& limits) {
    std::vector<EntryLeft> entries = given;
    std::string refusedWords; // what the tool said of the first entry not read as a save
    for (EntryLeft& entry : entries) {
        if (NotReadAsSave(entry)) {
            if (refusedWords.empty()) {
                refusedWords = SplitToolWords(entry.reason).words;
            }
            entry.reason = Phrase(kNotReadAsSaves);
        }
    }
    const std::vector<ReasonGroup> groups = GroupByReason(entries);
    std::string summary;
    const auto addLine = [&summary](const std::string& line) {
        summary += (summary.empty() ? "" : "\n") + line;
    };
    const std::size_t shown = std::min(groups.size(), std::max<std::size_t>(limits.groups, 1));
    for (std::size_t g = 0; g < shown; ++g) {
        const ReasonGroup& group = groups[g];
        ReasonWords words = SplitReason(group.reason);
        if (group.reason.id() == kNotReadAsSaves) {
            words.tools = refusedWords;
        }
        addLine(Tr(
            "{files}: {reason}",
            {{"files", Files(group.entries.size())},
             {"reason", Printable(ShortenedBetweenWords(words.ours, 2 * limits.reasonLength))}}));
        if (!words.tools.empty()) {
            addLine(std::string(kIndent) + Tr("The tool said: \"{words}\"",
                                              {{"words", Printable(ShortenedBetweenWords(
                                                             words.tools, limits.reasonLength))}}));
        }
        const std::size_t named = std::min(group.entries.size(), limits.namesPerGroup);
        if (named == 0) {
            continue;
        }
        std::vector<std::string> names;
        for (std::size_t n = 0; n < named; ++n) {
            names.push_back(
                Printable(ShortenedInTheMiddle(entries[group.entries[n]].name, limits.nameLength)));
        }
        addLine(std::string(kIndent) + NamesOf(names, group.entries.size() - named));
    }
    if (shown < groups.size()) {
        std::size_t rest = 0;
        for (std::size_t g = shown; g < groups.size(); ++g) {
            rest += groups[g].entries.size();
        }
        const std::size_t reasons = groups.size() - shown;
        addLine(TrN("{files} for {n} other reason", "{files} for {n} other reasons", reasons,
                    {{"files", Files(rest)}}));
    }
    return summary;
}

std::string GroupedSummary(const std::vector<FileOutcome>& files, const SummaryLimits& limits) {
    return GroupedSummary(EntriesNotChanged(files), limits);
}

} // namespace ostrapel
