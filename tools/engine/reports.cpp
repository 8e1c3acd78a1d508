#include "engine/reports.h"

#include <fmt/format.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <nlohmann/json.hpp>
#include <optional>
#include <utility>

#include "callkit/table_entry.h"
#include "engine/beds_report.h"
#include "engine/block.h"
#include "engine/chart/chart_style.h"
#include "engine/text.h"

namespace su55if::engine {

namespace {

std::string partnerText(double entry) { return entry == 0.0 ? "-" : fmt::format("{:+}", entry); }

struct Link {
    int from;
    double to;  // as the table has it: it may name no stage at all
    std::string kind;  // "positive" or "negative": the sign of from's entry
    bool mutual;       // to's entry names from
    std::string backKind;  // the kind of to's own entry: "none" when it is 0 or to is no stage
};

const char *linkKind(double entry) { return entry > 0.0 ? "positive" : entry < 0.0 ? "negative" : "none"; }

// The links of the interaction table; a pair that links both ways once.
std::vector<Link> links(const Cycle &cycle) {
    const int count = cycle.stageCount();
    auto entry = [&](double stage) { return cycle.partners[static_cast<std::size_t>(stage) - 1]; };
    std::vector<Link> result;
    for (int stage = 1; stage <= count; ++stage) {
        const double own = entry(stage);
        const double partner = callkit::entryNumber(own);
        if (partner == 0.0) {
            continue;
        }
        const int partnerStage = callkit::partnerStage(own, count);
        const double back = partnerStage != 0 ? entry(partnerStage) : 0.0;
        const bool mutual = partnerStage != 0 && callkit::partnerStage(back, count) == stage;
        if (!mutual || stage < partner) {
            result.push_back({stage, partner, linkKind(own), mutual, linkKind(back)});
        }
    }
    return result;
}

void printLinks(std::FILE *out, const Cycle &cycle) {
    const std::vector<Link> all = links(cycle);
    for (const Link &link : all) {
        if (!link.mutual) {
            fmt::print(out, "  {} -> {}  {} link, one way\n", link.from, link.to, link.kind);
        } else if (link.kind == link.backKind) {
            fmt::print(out, "  {} <-> {}  {} links\n", link.from, link.to, link.kind);
        } else {
            fmt::print(out, "  {} <-> {}  {} link from {}, {} link from {}\n", link.from, link.to, link.kind,
                       link.from, link.backKind, link.to);
        }
    }
    if (all.empty()) {
        fmt::print(out, "  none\n");
    }
}

// The first record that names an interaction entry: its kind and the entry.
struct EntryFault {
    std::string kind;
    int stage = 0;
};

std::optional<EntryFault> entryFault(const std::vector<std::string> &records) {
    static const char *const kKinds[] = {" is invalid.", " refers to itself.", " has invalid match.",
                                         " invalid time match."};
    for (const std::string &record : records) {
        int stage = 0;
        int consumed = 0;
        if (std::sscanf(record.c_str(), "Interaction stage %d%n", &stage, &consumed) != 1) {
            continue;
        }
        for (const char *kind : kKinds) {
            if (record.compare(static_cast<std::size_t>(consumed), std::string::npos, kind) == 0) {
                return EntryFault{kind, stage};
            }
        }
    }
    return std::nullopt;
}

// Where each stage begins and ends within the cycle: after the durations
// before it, the last one ending at the cycle duration SU55IF_DEFST reported
// (a running sum may differ from it in the last bits), or at the running
// sum when there is none.
struct Span {
    double start;
    double end;
};

std::vector<Span> stageSpans(const std::vector<double> &durations, std::optional<double> cycleDuration) {
    std::vector<Span> spans;
    double start = 0.0;
    for (double duration : durations) {
        spans.push_back({start, start + duration});
        start += duration;
    }
    if (!spans.empty() && cycleDuration) {
        spans.back().end = *cycleDuration;
    }
    return spans;
}

// A table entry for JSON: an integer when it is whole and fits one, as
// entries are; else the number as it stands.
nlohmann::json wholeNumber(double value) {
    if (value == std::trunc(value) && std::fabs(value) < 9007199254740992.0) {
        return static_cast<std::int64_t>(value);
    }
    return value;
}

}  // namespace

std::string stageLabel(const Cycle &cycle, int stage, const char *word, const std::string &detail) {
    std::string name = printable(cycle.stageName(static_cast<std::size_t>(stage - 1)));
    if (!detail.empty()) {
        name += (name.empty() ? "" : ", ") + detail;
    }
    return name.empty() ? fmt::format("{} {}", word, stage) : fmt::format("{} {} ({})", word, stage, name);
}

void printSummary(std::FILE *out, const Cycle &cycle, const Schedule &schedule, const std::string &timeUnit) {
    fmt::print(out, "Cycle {}: {} stages, cycle duration {}\n\n", printable(cycle.name), cycle.stageCount(),
               withUnit(schedule.cycleDuration, timeUnit));
    const bool named = std::any_of(cycle.stageNames.begin(), cycle.stageNames.end(),
                                   [](const std::string &name) { return !name.empty(); });
    const auto row = [&](const std::string &stage, const std::string &duration, const std::string &start,
                         const std::string &end, const std::string &partner, const std::string &name) {
        fmt::print(out, "{}{}{}{}{}{}\n", column(stage, 7), column(duration, 10), column(start, 10), column(end, 10),
                   column(partner, 9), name.empty() ? "" : "  " + name);
    };
    row("stage", "duration", "start", "end", "partner", named ? "name" : "");
    const std::vector<Span> spans = stageSpans(schedule.durations, schedule.cycleDuration);
    for (std::size_t k = 0; k < spans.size(); ++k) {
        row(std::to_string(k + 1), readable(schedule.durations[k]), readable(spans[k].start), readable(spans[k].end),
            partnerText(cycle.partners[k]), printable(cycle.stageName(k)));
    }
    if (!timeUnit.empty()) {
        fmt::print(out, "(durations and times in {})\n", printable(timeUnit));
    }
    fmt::print(out, "\nInteraction links:\n");
    printLinks(out, cycle);
}

std::optional<Diagnostic> explainRejection(const Cycle &cycle, const Schedule &schedule,
                                           const std::vector<std::string> &records) {
    const std::optional<EntryFault> fault = entryFault(records);
    const int count = cycle.stageCount();
    if (!fault || fault->stage < 1 || fault->stage > count) {
        return std::nullopt;
    }
    const int stage = fault->stage;
    const double entry = cycle.partners[static_cast<std::size_t>(stage - 1)];
    const double partner = callkit::entryNumber(entry);
    // Entries and durations in full, not readable(): two durations that
    // differ in their last digits must read as different.
    const std::string who = stageLabel(cycle, stage, "Stage");
    const std::string whoInSentence = stageLabel(cycle, stage);
    Diagnostic d;
    d.stage = stage;
    d.field = StageField::partner;
    d.value = fmt::format("{}", entry);
    d.values = {{"entry", entry}};
    d.libraryRecords = records;
    const auto fix = [&](int at, StageField field, std::vector<double> choices, std::string text) {
        d.fix.stage = at;
        d.fix.field = field;
        d.fix.choices = std::move(choices);
        d.fix.text = std::move(text);
    };
    if (fault->kind == " is invalid.") {
        d.kind = DiagnosticKind::partnerNotInCycle;
        d.message = fmt::format("{} has the partner entry {}, which names stage {}, but the cycle has {} stages.",
                                who, entry, partner, count);
        d.rule = fmt::format("a partner is another stage, 1 to {} (negative for a negative link), or 0", count);
        fix(stage, StageField::partner, {0.0},
            fmt::format("To fix it: make the entry the number of another stage (1 to {}, negative for a negative "
                        "link), or 0 for no partner.",
                        count));
        return d;
    }
    if (fault->kind == " refers to itself.") {
        d.kind = DiagnosticKind::partnerIsItself;
        d.message = fmt::format("{} has the partner entry {}, which names the stage itself.", who, entry);
        d.rule = "a partner is another stage (negative for a negative link), or 0";
        fix(stage, StageField::partner, {0.0},
            "To fix it: make the entry the number of another stage (negative for a negative link), or 0 for no "
            "partner.");
        return d;
    }
    if (partner < 1.0 || partner > count) {
        return std::nullopt;
    }
    const auto p = static_cast<int>(partner);
    d.partner = p;
    const double back = cycle.partners[static_cast<std::size_t>(p - 1)];
    const std::string partnerWho = stageLabel(cycle, p);
    if (fault->kind == " has invalid match.") {
        const double backStage = callkit::entryNumber(back);
        const std::string missing =
            backStage < 1.0 || backStage > count
                ? fmt::format(", which the cycle does not have (its stages are 1 to {}),", count)
                : "";
        d.kind = DiagnosticKind::oneWayLink;
        d.values.push_back({"partnerEntry", back});
        d.message = fmt::format("{} names {} as its partner (entry {}), but {}'s entry {} names stage {}{} not "
                                "stage {}.",
                                who, partnerWho, entry, partnerWho, back, backStage, missing.empty() ? "," : missing,
                                stage);
        d.rule = "a link is reciprocal: the partner names the stage back, or has no partner of its own";
        fix(p, StageField::partner, {static_cast<double>(stage), -static_cast<double>(stage), 0.0},
            fmt::format("To fix it: make {}'s entry {} or -{} (linked back) or 0 (no link of its own), or give {} "
                        "another partner.",
                        partnerWho, stage, stage, whoInSentence));
        return d;
    }
    const double own = schedule.durations[static_cast<std::size_t>(stage - 1)];
    const double other = schedule.durations[static_cast<std::size_t>(p - 1)];
    d.kind = DiagnosticKind::linkedDurationsDiffer;
    d.field = StageField::duration;
    d.value = fmt::format("{}", own);
    d.values.push_back({"duration", own});
    d.values.push_back({"partnerDuration", other});
    d.message = fmt::format("{} and its partner {} are linked but their durations differ.",
                            stageLabel(cycle, stage, "Stage", fmt::format("duration {}", own)),
                            stageLabel(cycle, p, "stage", fmt::format("duration {}", other)));
    d.rule = "linked stages last the same";
    fix(stage, StageField::duration, {own, other},
        fmt::format("To fix it: give both the same duration, {} or {}, or unlink them (partner 0).", own, other));
    // A one-way link whose stage another stage names: that stage is likely
    // the partner meant.
    if (callkit::partnerStage(back, count) != stage) {
        for (int named = 1; named <= count; ++named) {
            if (named != stage && named != p &&
                callkit::partnerStage(cycle.partners[static_cast<std::size_t>(named - 1)], count) == stage) {
                const double choice = entry < 0.0 ? -named : named;
                fix(stage, StageField::partner, {choice},
                    fmt::format("{} names {} as its partner: did you mean partner {} for {}? Else give {} and {} "
                                "the same duration, {} or {}, or unlink them (partner 0).",
                                stageLabel(cycle, named, "Stage"), whoInSentence, choice, whoInSentence,
                                whoInSentence, partnerWho, own, other));
                d.fix.namedBy = named;
                break;
            }
        }
    }
    return d;
}

std::vector<int> explainedStages(const Cycle &cycle, const std::vector<std::string> &records) {
    const std::optional<EntryFault> fault = entryFault(records);
    const int count = cycle.stageCount();
    if (!fault || fault->stage < 1 || fault->stage > count) {
        return {};
    }
    std::vector<int> stages{fault->stage};
    const int partner = callkit::partnerStage(cycle.partners[static_cast<std::size_t>(fault->stage - 1)], count);
    if (partner != 0 && partner != fault->stage) {
        stages.push_back(partner);
    }
    return stages;
}

Diagnostic driftDiagnostic(const Cycle &cycle, const LinkDrift &drift) {
    const auto label = [&](int stage, double duration) {
        return stageLabel(cycle, stage, "stage", fmt::format("duration {}", duration));
    };
    const std::string what = fmt::format(
        "at time {}, the linked {} and {} no longer last the same. The library checks linked durations only when a "
        "run starts: this run goes on, but one that starts with these durations is stopped (\"Interaction stage {} "
        "invalid time match.\").",
        drift.time, label(drift.stage, drift.stageDuration), label(drift.partner, drift.partnerDuration),
        drift.stage);
    Diagnostic d;
    d.kind = DiagnosticKind::linkDrift;
    d.severity = Severity::warning;
    d.message = fmt::format("{} To keep them linked, set duration{} and duration{} in the same row of the input "
                            "file, or change the duration with an event (--events), which sets the partner too.",
                            what, drift.stage, drift.partner);
    d.rule = fmt::format("{} To keep them linked, set both durations in the same row of the inputs, or change the "
                         "duration with an event, which sets the partner too.",
                         what);
    d.stage = drift.stage;
    d.partner = drift.partner;
    d.field = StageField::duration;
    d.value = fmt::format("{}", drift.stageDuration);
    d.time = drift.time;
    d.hasTime = true;
    d.values = {{"duration", drift.stageDuration}, {"partnerDuration", drift.partnerDuration}};
    d.fix.stage = drift.partner;
    d.fix.field = StageField::duration;
    d.fix.choices = {drift.stageDuration};
    d.fix.sameRowAs = drift.stage;
    return d;
}

std::string explainDrift(const Cycle &cycle, const LinkDrift &drift) { return driftDiagnostic(cycle, drift).message; }

std::string driftsNotShown(const Cycle &cycle, int stage, int partner, std::uint64_t more, std::uint64_t shown) {
    return fmt::format("the linked {} and {} parted {} more time{}, not shown: only the first {} of each pair are.",
                       stageLabel(cycle, stage), stageLabel(cycle, partner), more, more == 1 ? "" : "s", shown);
}

std::optional<Diagnostic> encodingNote(const Cycle &cycle) {
    if (cycle.windows1252From == 0) {
        return std::nullopt;
    }
    Diagnostic d = diagnostic(DiagnosticKind::readAsWindows1252,
                              "the file is not UTF-8: read as Windows-1252 from this line on",
                              "a file that is not UTF-8 is read as Windows-1252");
    d.severity = Severity::note;
    d.file = cycle.name;
    d.line = cycle.windows1252From;
    return d;
}

void printCheckText(std::FILE *out, const Cycle &cycle, const Schedule &schedule, const CheckResult &result,
                    const std::string &timeUnit) {
    fmt::print(out, "Checking {} with SU55IF_DEFST and {} at time 0.\n", printable(cycle.name), result.timingName);
    for (const Diagnostic &d : result.diagnostics) {
        if (d.severity == Severity::note) {
            fmt::print(out, "Note: {}.\n", printable(hostText(d)));
        }
    }
    if (!result.records.empty()) {
        fmt::print(out, "\nThe library's records:\n");
        for (const std::string &record : result.records) {
            fmt::print(out, "  {}\n", printable(record));
        }
    }
    if (result.defined) {
        fmt::print(out, "\n");
        printSummary(out, cycle, schedule, timeUnit);
    }
    if (!result.accepted) {
        fmt::print(out, "\nThe library rejected the cycle: status 4, after the records above.\n");
        for (const std::string &line : result.explanation) {
            fmt::print(out, "{}\n", line);
        }
        return;
    }
    fmt::print(out, "\nThe library accepts the cycle.\n");
    if (!result.cycleFault.empty()) {
        fmt::print(out, "But it cannot be run: {}.\n", result.cycleFault);
    }
    if (result.beds) {
        printBedsText(out, cycle, *result.beds, timeUnit);
    }
}

namespace {

nlohmann::json checkJson(const Cycle &cycle, const Schedule &schedule, const CheckResult &result,
                         const std::string &timeUnit) {
    using nlohmann::json;
    json stages = json::array();
    const std::vector<double> &durations = result.defined ? schedule.durations : cycle.durations;
    const std::vector<Span> spans =
        stageSpans(durations, result.defined ? std::optional(schedule.cycleDuration) : std::nullopt);
    for (std::size_t k = 0; k < spans.size(); ++k) {
        stages.push_back({{"stage", k + 1},
                          {"name", cycle.stageName(k)},
                          {"duration", durations[k]},
                          {"start", spans[k].start},
                          {"end", spans[k].end},
                          {"partner", wholeNumber(cycle.partners[k])}});
    }
    json linkList = json::array();
    for (const Link &link : links(cycle)) {
        linkList.push_back({{"stage", link.from},
                            {"partner", wholeNumber(link.to)},
                            {"kind", link.kind},
                            {"mutual", link.mutual},
                            {"partnerKind", link.backKind}});
    }
    json diagnostics = json::array();
    for (const Diagnostic &d : result.diagnostics) {
        diagnostics.push_back(toJson(d));
    }
    json report{
        {"cycle", cycle.name},
        {"text", cycle.text ? json(*cycle.text) : json(nullptr)},
        {"timeUnit", timeUnit},
        {"timing", result.timingName},
        {"stages", stages},
        {"links", linkList},
        {"cycleDuration", result.defined ? json(schedule.cycleDuration) : json(nullptr)},
        {"verdict", result.accepted ? "accepted" : "rejected"},
        {"status", result.accepted ? 0 : kStatusFatal},
        {"records", result.records},
        {"explanation", result.explanation},
        {"explained", result.explained},
        {"diagnostics", diagnostics},
        {"runnable", result.accepted && result.cycleFault.empty()},
        {"cycleFault", result.cycleFault},
        // The colours of the stages and series, for a program that draws the
        // cycle's beds as the chart does.
        {"chart", chartStyle()},
    };
    if (result.beds) {
        report.update(bedsJson(*result.beds));
    }
    return report;
}

// Stage names are UTF-8 as read, but file names may hold any bytes:
// invalid UTF-8 becomes U+FFFD rather than failing the report.
void printJson(std::FILE *out, const nlohmann::json &report) {
    fmt::print(out, "{}\n", shownJson(report.dump(2, ' ', false, nlohmann::json::error_handler_t::replace)));
}

}  // namespace

void printCheckJson(std::FILE *out, const Cycle &cycle, const Schedule &schedule, const CheckResult &result,
                    const std::string &timeUnit) {
    printJson(out, checkJson(cycle, schedule, result, timeUnit));
}

void printCheckFailureJson(std::FILE *out, const std::string &name, const Cycle *cycle,
                           const std::vector<Diagnostic> &diagnostics, const std::string &timeUnit) {
    Cycle unread;
    unread.name = name;
    CheckResult result;
    if (cycle != nullptr) {
        if (std::optional<Diagnostic> note = encodingNote(*cycle)) {
            result.diagnostics.push_back(std::move(*note));
        }
    }
    result.diagnostics.insert(result.diagnostics.end(), diagnostics.begin(), diagnostics.end());
    nlohmann::json report = checkJson(cycle != nullptr ? *cycle : unread, Schedule{}, result, timeUnit);
    for (const char *key : {"timing", "verdict", "status"}) {
        report[key] = nullptr;
    }
    printJson(out, report);
}

}  // namespace su55if::engine
