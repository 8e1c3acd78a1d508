#include "report.h"

#include <fmt/format.h>
#include <fmt/ranges.h>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <nlohmann/json.hpp>

#include "text.h"

namespace su55if::host {

namespace {

// A number as a person reads it: shortest form that reads back exactly.
std::string readable(double value) { return fmt::format("{}", value); }

std::string withUnit(double value, const std::string &unit) {
    return unit.empty() ? readable(value) : fmt::format("{} {}", value, unit);
}

// The readable timeline's column widths.
std::size_t columnWidth(const std::string &name) {
    return name == "time" ? 9 : name == "stage" ? 7 : std::max<std::size_t>(name.size() + 2, 12);
}

std::string partnerText(double entry) { return entry == 0.0 ? "-" : fmt::format("{:+}", entry); }

std::string stageName(const Cycle &cycle, std::size_t k) {
    return k < cycle.stageNames.size() ? cycle.stageNames[k] : std::string();
}

// A stage as messages name it: its number, and its name when it has one.
std::string stageLabel(const Cycle &cycle, int stage, const char *word = "stage") {
    const std::string name = stageName(cycle, static_cast<std::size_t>(stage - 1));
    return name.empty() ? fmt::format("{} {}", word, stage) : fmt::format("{} {} ({})", word, stage, name);
}

struct Link {
    int from;
    double to;  // as the table has it: it may name no stage at all
    std::string kind;  // "positive" or "negative": the sign of from's entry
    bool mutual;       // to's entry names from
    std::string backKind;
};

const char *linkKind(double entry) { return entry > 0.0 ? "positive" : "negative"; }

// The links of the interaction table; a pair that links both ways once.
std::vector<Link> links(const Cycle &cycle) {
    const int count = cycle.stageCount();
    auto entry = [&](double stage) { return cycle.partners[static_cast<std::size_t>(stage) - 1]; };
    std::vector<Link> result;
    for (int stage = 1; stage <= count; ++stage) {
        const double own = entry(stage);
        const double partner = std::fabs(own);
        if (partner == 0.0) {
            continue;
        }
        const bool mutual = partner >= 1.0 && partner <= count && std::fabs(entry(partner)) == stage;
        if (!mutual) {
            result.push_back({stage, partner, linkKind(own), false, ""});
        } else if (stage < partner) {
            result.push_back({stage, partner, linkKind(own), true, linkKind(entry(partner))});
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

// The CSV's numbers: %.17g, the shortest text that reads back as the same
// double for every value. std::to_chars gives exactly printf's text, far
// faster; a value like the last one in its column is not formatted again.
class NumberText {
public:
    std::string_view operator()(double value) {
        if (std::memcmp(&value, &last_, sizeof value) != 0 || length_ == 0) {
            last_ = value;
            // A whole number below 2^53 prints as the integer it is; the
            // sign of -0 needs the general case.
            const bool whole = std::fabs(value) < 9007199254740992.0 && value == std::trunc(value) &&
                               !(value == 0.0 && std::signbit(value));
            const auto end = whole ? std::to_chars(text_, text_ + sizeof text_, static_cast<long long>(value))
                                   : std::to_chars(text_, text_ + sizeof text_, value, std::chars_format::general, 17);
            length_ = static_cast<std::size_t>(end.ptr - text_);
        }
        return {text_, length_};
    }

private:
    double last_ = 0.0;
    char text_[32] = {};
    std::size_t length_ = 0;
};

// The values of one sample, in the order of timelineColumns().
class RowValues {
public:
    explicit RowValues(const Simulator &simulator)
        : extras_(simulator.extraOutputs()), flagCount_(simulator.flagCount()) {}

    template <typename Visit>
    void forEach(const TimelineRow &row, Visit &&visit) const {
        visit(row.time);
        visit(static_cast<double>(row.stage));
        visit(row.elapsed);
        visit(row.delayForCode2);
        visit(row.delayForCode1);
        visit(row.actionCode);
        for (int k = 0; k < flagCount_; ++k) {
            visit(row.flags[static_cast<std::size_t>(k)]);
        }
        for (const ExtraOutput &extra : extras_) {
            visit(row.*extra.value);
        }
    }

private:
    std::vector<ExtraOutput> extras_;
    int flagCount_;
};

class CsvWriter : public SampleSink {
public:
    CsvWriter(std::FILE *out, const Simulator &simulator)
        : out_(out), values_(simulator), texts_(timelineColumns(simulator).size()) {
        const std::vector<std::string> columns = timelineColumns(simulator);
        std::string header;
        for (const std::string &column : columns) {
            header += (header.empty() ? "" : ",") + column;
        }
        header += '\n';
        std::fwrite(header.data(), 1, header.size(), out_);
    }

    void write(const TimelineRow &row) override {
        std::size_t column = 0;
        char *end = line_;
        values_.forEach(row, [&](double value) {
            if (column > 0) {
                *end++ = ',';
            }
            const std::string_view text = texts_[column++](value);
            std::memcpy(end, text.data(), text.size());
            end += text.size();
        });
        *end++ = '\n';
        std::fwrite(line_, 1, static_cast<std::size_t>(end - line_), out_);
    }

private:
    std::FILE *out_;
    RowValues values_;
    std::vector<NumberText> texts_;
    char line_[32 * 32] = {};  // at most 16 columns of at most 32 characters and a comma
};

class JsonLinesWriter : public SampleSink {
public:
    JsonLinesWriter(std::FILE *out, const Simulator &simulator)
        : out_(out), values_(simulator), columns_(timelineColumns(simulator)), texts_(columns_.size()) {}

    void write(const TimelineRow &row) override {
        std::size_t column = 0;
        line_.clear();
        values_.forEach(row, [&](double value) {
            line_ += column == 0 ? "{\"" : ",\"";
            line_ += columns_[column];
            line_ += "\":";
            if (std::isfinite(value)) {
                line_ += texts_[column](value);
            } else {
                line_ += "null";
            }
            ++column;
        });
        line_ += "}\n";
        std::fwrite(line_.data(), 1, line_.size(), out_);
    }

private:
    std::FILE *out_;
    RowValues values_;
    std::vector<std::string> columns_;
    std::vector<NumberText> texts_;
    std::string line_;
};

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

}  // namespace

std::vector<std::string> flagNames(bool twin) {
    std::vector<std::string> names{"flagForCode1", "flagForCode2", "flagForCodeMinus2"};
    if (!twin) {
        names.emplace_back("flagForCodeMinus1");
    }
    return names;
}

void printSummary(std::FILE *out, const Cycle &cycle, const Schedule &schedule, const std::string &timeUnit) {
    fmt::print(out, "Cycle {}: {} stages, cycle duration {}\n\n", printable(cycle.name), cycle.stageCount(),
               withUnit(schedule.cycleDuration, timeUnit));
    const bool named = std::any_of(cycle.stageNames.begin(), cycle.stageNames.end(),
                                   [](const std::string &name) { return !name.empty(); });
    fmt::print(out, "{:>7}{:>10}{:>10}{:>10}{:>9}{}\n", "stage", "duration", "start", "end", "partner",
               named ? "  name" : "");
    double start = 0.0;
    for (std::size_t k = 0; k < schedule.durations.size(); ++k) {
        const double end = start + schedule.durations[k];
        const std::string name = stageName(cycle, k);
        fmt::print(out, "{:>7}{:>10}{:>10}{:>10}{:>9}{}\n", k + 1, readable(schedule.durations[k]), readable(start),
                   readable(end), partnerText(cycle.partners[k]), name.empty() ? "" : "  " + name);
        start = end;
    }
    if (!timeUnit.empty()) {
        fmt::print(out, "(durations and times in {})\n", timeUnit);
    }
    fmt::print(out, "\nInteraction links:\n");
    printLinks(out, cycle);
}

std::vector<std::string> explainRecords(const Cycle &cycle, const Schedule &schedule,
                                        const std::vector<std::string> &records) {
    const std::optional<EntryFault> fault = entryFault(records);
    const int count = cycle.stageCount();
    if (!fault || fault->stage < 1 || fault->stage > count) {
        return {};
    }
    const int stage = fault->stage;
    const double entry = cycle.partners[static_cast<std::size_t>(stage - 1)];
    const double partner = std::round(std::fabs(entry));
    const std::string who = stageLabel(cycle, stage, "Stage");
    if (fault->kind == " is invalid.") {
        return {fmt::format("{} has the partner entry {}, which names stage {}, but the cycle has {} stages.", who,
                            entry, partner, count),
                fmt::format("To fix it: make the entry the number of another stage (1 to {}, negative for a negative "
                            "link), or 0 for no partner.",
                            count)};
    }
    if (fault->kind == " refers to itself.") {
        return {fmt::format("{} has the partner entry {}, which names the stage itself.", who, entry),
                "To fix it: make the entry the number of another stage (negative for a negative link), or 0 for no "
                "partner."};
    }
    if (partner < 1.0 || partner > count) {
        return {};
    }
    const auto p = static_cast<int>(partner);
    const double back = cycle.partners[static_cast<std::size_t>(p - 1)];
    const std::string partnerWho = stageLabel(cycle, p);
    if (fault->kind == " has invalid match.") {
        return {fmt::format("{} names {} as its partner (entry {}), but {}'s entry {} names stage {}, not stage {}.",
                            who, partnerWho, entry, partnerWho, back, std::round(std::fabs(back)), stage),
                fmt::format("To fix it: make {}'s entry {} or -{} (linked back) or 0 (no link of its own), or give "
                            "{} another partner.",
                            partnerWho, stage, stage, who)};
    }
    const double own = schedule.durations[static_cast<std::size_t>(stage - 1)];
    const double other = schedule.durations[static_cast<std::size_t>(p - 1)];
    return {fmt::format("{} (duration {}) and its partner {} (duration {}) are linked but their durations differ.",
                        who, own, partnerWho, other),
            fmt::format("To fix it: give both the same duration, {} or {}, or unlink them (entry 0).", own, other)};
}

void printCheckText(std::FILE *out, const Cycle &cycle, const Schedule &schedule, const CheckResult &result,
                    const std::string &timeUnit) {
    fmt::print(out, "Checking {} with SU55IF_DEFST and {} at time 0.\n", printable(cycle.name), result.timingName);
    if (!result.records.empty()) {
        fmt::print(out, "\nThe library's records:\n");
        for (const std::string &record : result.records) {
            fmt::print(out, "  {}\n", record);
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
}

void printCheckJson(std::FILE *out, const Cycle &cycle, const Schedule &schedule, const CheckResult &result,
                    const std::string &timeUnit) {
    using nlohmann::json;
    json stages = json::array();
    double start = 0.0;
    for (std::size_t k = 0; k < cycle.durations.size(); ++k) {
        const double duration = result.defined ? schedule.durations[k] : cycle.durations[k];
        stages.push_back({{"stage", k + 1},
                          {"name", stageName(cycle, k)},
                          {"duration", duration},
                          {"start", start},
                          {"end", start + duration},
                          {"partner", cycle.partners[k]}});
        start += duration;
    }
    json linkList = json::array();
    for (const Link &link : links(cycle)) {
        json item{{"stage", link.from}, {"partner", link.to}, {"kind", link.kind}, {"mutual", link.mutual}};
        if (link.mutual) {
            item["partnerKind"] = link.backKind;
        }
        linkList.push_back(item);
    }
    const json report{
        {"cycle", cycle.name},
        {"timeUnit", timeUnit},
        {"timing", result.timingName},
        {"stages", stages},
        {"links", linkList},
        {"cycleDuration", result.defined ? json(schedule.cycleDuration) : json(nullptr)},
        {"verdict", result.accepted ? "accepted" : "rejected"},
        {"status", result.accepted ? 0 : kStatusFatal},
        {"records", result.records},
        {"explanation", result.explanation},
        {"runnable", result.accepted && result.cycleFault.empty()},
        {"cycleFault", result.cycleFault},
    };
    // Stage names and file names may hold any bytes: invalid UTF-8 becomes
    // U+FFFD rather than failing the report.
    fmt::print(out, "{}\n", report.dump(2, ' ', false, json::error_handler_t::replace));
}

std::vector<std::string> timelineColumns(const Simulator &simulator) {
    std::vector<std::string> columns{"time", "stage", "elapsed", "delayForCode2", "delayForCode1", "actionCode"};
    for (const std::string &name : flagNames(simulator.twin())) {
        columns.push_back(name);
    }
    for (const ExtraOutput &extra : simulator.extraOutputs()) {
        columns.emplace_back(extra.name);
    }
    return columns;
}

std::unique_ptr<SampleSink> csvWriter(std::FILE *out, const Simulator &simulator) {
    return std::make_unique<CsvWriter>(out, simulator);
}

std::unique_ptr<SampleSink> jsonLinesWriter(std::FILE *out, const Simulator &simulator) {
    return std::make_unique<JsonLinesWriter>(out, simulator);
}

TableWriter::TableWriter(std::FILE *out, const Cycle &cycle, const Simulator &simulator, const RunSettings &settings,
                         const std::string &timeUnit)
    : out_(out), cycle_(cycle), simulator_(simulator) {
    // The elapsed time is left out: at the rows shown, where a stage begins,
    // it is mostly 0. The CSV has it for every sample.
    names_ = {"time", "stage", "delayForCode2", "delayForCode1", "actionCode"};
    for (const ExtraOutput &extra : simulator.extraOutputs()) {
        names_.emplace_back(extra.name);
    }
    fmt::print(out_, "\nTimeline from 0 to {} every {}: {} and {} for the stage in force.\n",
               withUnit(settings.stopTime, timeUnit), withUnit(settings.outputInterval, timeUnit),
               simulator.timingName(), simulator.decodingName());
    fmt::print(out_, "Shown: the first sample, each sample at which {} changes, and the last sample.\n\n",
               simulator.extraOutputs().empty() ? "the stage or a timing output"
                                                : "the stage, a timing output or another output");
    std::string header;
    for (const std::string &name : names_) {
        header += fmt::format("{:>{}}", name, columnWidth(name));
    }
    fmt::print(out_, "{}  indicator set\n", header);
}

void TableWriter::show(const TimelineRow &row) {
    std::string indicator = "-";
    const std::vector<std::string> flags = flagNames(simulator_.twin());
    for (int k = 0; k < row.flagCount; ++k) {
        if (row.flags[static_cast<std::size_t>(k)] == 1.0) {
            indicator = flags[static_cast<std::size_t>(k)];
        }
    }
    std::vector<double> values{row.delayForCode2, row.delayForCode1, row.actionCode};
    for (const ExtraOutput &extra : simulator_.extraOutputs()) {
        values.push_back(row.*extra.value);
    }
    std::string line = fmt::format("{:>9}{:>7}", readable(row.time), row.stage);
    for (std::size_t k = 0; k < values.size(); ++k) {
        line += fmt::format("{:>{}}", readable(values[k]), columnWidth(names_[k + 2]));
    }
    const std::string name = stageName(cycle_, static_cast<std::size_t>(row.stage - 1));
    fmt::print(out_, "{}  {}{}\n", line, indicator, name.empty() ? "" : "  (" + name + ")");
    ++shown_;
}

void TableWriter::write(const TimelineRow &row) {
    ++samples_;
    const TimelineRow *before = previous_ ? &*previous_ : nullptr;
    bool changed = before == nullptr || row.stage != before->stage || row.delayForCode2 != before->delayForCode2 ||
                   row.delayForCode1 != before->delayForCode1 || row.actionCode != before->actionCode;
    for (const ExtraOutput &extra : simulator_.extraOutputs()) {
        changed = changed || row.*extra.value != before->*extra.value;
    }
    if (changed) {
        show(row);
    }
    previous_ = row;
    previousShown_ = changed;
}

void TableWriter::scheduleChanged(double time, const std::vector<double> &durations) {
    if (samples_ == 0) {
        return;  // the schedule at time 0 is in the summary
    }
    double cycle = 0.0;
    for (double duration : durations) {
        cycle += duration;
    }
    fmt::print(out_, "{:>16}  from time {} the durations are {} (cycle {}):\n", "", readable(time),
               fmt::join(durations, ", "), readable(cycle));
}

void TableWriter::finish() {
    if (previous_ && !previousShown_) {
        show(*previous_);
    }
    fmt::print(out_,
               "\nactionCode  2: the partner last began delayForCode2 before the start of this stage\n"
               "            1: the partner last began delayForCode1 before the start of this stage\n"
               "       -1, -2: the partner last began a wrap-around span back, and time has not yet passed that span\n"
               "            0: the stage has no partner\n"
               "\n{} of {} samples shown; `su55if-host run CYCLE.csv` writes each of them as CSV.\n",
               shown_, samples_);
}

}  // namespace su55if::host
