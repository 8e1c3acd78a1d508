#include "engine/timeline_writers.h"

#include <fmt/format.h>
#include <fmt/ranges.h>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdint>
#include <cstring>
#include <nlohmann/json.hpp>

#include "engine/reports.h"
#include "engine/run_records.h"
#include "engine/text.h"

namespace su55if::engine {

namespace {

// The readable timeline's column widths.
std::size_t columnWidth(const std::string &name) {
    return name == "time" ? 9 : name == "stage" ? 7 : std::max<std::size_t>(name.size() + 2, 12);
}

// The text of a number, into `text` (32 bytes): a whole number below 2^53 as
// the integer it is (the sign of -0 needs the general case), any other as
// %.17g, a text that reads back as the same double for every value. This is
// the plain version: fmt, whose exact %.17g falls back to big integers.
[[maybe_unused]] std::size_t formatNumberPlainly(char *text, double value) {
    const bool whole = std::fabs(value) < 9007199254740992.0 && value == std::trunc(value) &&
                       !(value == 0.0 && std::signbit(value));
    return whole ? fmt::format_to_n(text, 32, "{}", static_cast<long long>(value)).size
                 : fmt::format_to_n(text, 32, "{:.17g}", value).size;
}

// Speed: the one place the engine formats numbers by other means than fmt,
// chosen by SU55IF_NUMBERS when the engine is built (CMakeLists.txt):
//   1  std::to_chars, where the C++ library has it for doubles: the same
//      text; a run of 1,000,000 samples to a CSV file took 1.35 times the
//      CPU time with fmt alone.
//   2  elsewhere (the WebAssembly build's C++ library), a number that is a
//      whole number of halves, quarters... up to 1/1024ths (times and
//      durations at such steps) written by hand, fmt for the others: the
//      same 1,000,000-sample run in the designer took 0.56 s instead of
//      0.78 s. From 1e-4 to 1e12 such a number is n / 2^j = n * 5^j / 10^j,
//      and when n * 5^j has at most 17 digits, %.17g writes exactly that
//      decimal (n is odd, so it ends in 5, not in a 0 that %g would drop).
//   0  the plain version alone (SU55IF_PLAIN_NUMBERS, the asan preset in CI).
// The end-to-end tests compare every variant's CSV with the committed
// outputs, and the designer's tests with the native host's.
#if SU55IF_NUMBERS == 2
std::size_t formatHalves(char *text, double value) {
    const double magnitude = std::fabs(value);
    if (!(magnitude >= 1e-4 && magnitude < 1e12)) {
        return 0;
    }
    std::uint64_t fives = 1;
    std::uint64_t tens = 1;
    for (int j = 1; j <= 10; ++j) {
        fives *= 5;
        tens *= 10;
        const double scaled = std::ldexp(magnitude, j);
        if (scaled != std::trunc(scaled)) {
            continue;
        }
        const auto n = static_cast<std::uint64_t>(scaled);
        if (n >= 100000000000000000ULL / fives) {
            return 0;
        }
        const std::uint64_t digits = n * fives;
        char *out = text;
        if (value < 0.0) {
            *out++ = '-';
        }
        out = std::to_chars(out, text + 32, digits / tens).ptr;
        *out++ = '.';
        std::uint64_t fraction = digits % tens;
        for (std::uint64_t unit = tens / 10; unit != 0; unit /= 10) {
            *out++ = static_cast<char>('0' + fraction / unit);
            fraction %= unit;
        }
        return static_cast<std::size_t>(out - text);
    }
    return 0;
}
#endif

std::size_t formatNumber(char *text, double value) {
#if SU55IF_NUMBERS == 1
    const bool whole = std::fabs(value) < 9007199254740992.0 && value == std::trunc(value) &&
                       !(value == 0.0 && std::signbit(value));
    const auto end = whole ? std::to_chars(text, text + 32, static_cast<long long>(value))
                           : std::to_chars(text, text + 32, value, std::chars_format::general, 17);
    return static_cast<std::size_t>(end.ptr - text);
#elif SU55IF_NUMBERS == 2
    const std::size_t length = value == std::trunc(value) ? 0 : formatHalves(text, value);
    return length != 0 ? length : formatNumberPlainly(text, value);
#else
    return formatNumberPlainly(text, value);
#endif
}

// The CSV's numbers; a value like the last one in its column is not
// formatted again.
class NumberText {
public:
    std::string_view operator()(double value) {
        if (std::memcmp(&value, &last_, sizeof value) != 0 || length_ == 0) {
            last_ = value;
            length_ = formatNumber(text_, value);
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
    CsvWriter(std::FILE *out, const Cycle &cycle, const Simulator &simulator)
        : out_(out), values_(simulator), texts_(timelineColumns(simulator).size()), names_(csvStageNames(cycle)) {
        std::vector<std::string> columns = timelineColumns(simulator);
        if (!names_.empty()) {
            columns.emplace_back(kStageNameColumn);
        }
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
        if (names_.empty()) {
            *end++ = '\n';
            std::fwrite(line_, 1, static_cast<std::size_t>(end - line_), out_);
            return;
        }
        *end++ = ',';
        std::fwrite(line_, 1, static_cast<std::size_t>(end - line_), out_);
        const auto stage = static_cast<std::size_t>(row.stage - 1);  // the clock's: one of the cycle's
        if (stage < names_.size()) {
            std::fwrite(names_[stage].data(), 1, names_[stage].size(), out_);
        }
        std::fputc('\n', out_);
    }

private:
    std::FILE *out_;
    RowValues values_;
    std::vector<NumberText> texts_;
    std::vector<std::string> names_;  // each stage's stageName field; none when the cycle names no stage
    char line_[32 * 32] = {};  // at most 16 columns of at most 32 characters and a comma
};

class JsonLinesWriter : public SampleSink {
public:
    JsonLinesWriter(std::FILE *out, const Cycle &cycle, const Simulator &simulator)
        : out_(out), cycle_(cycle), values_(simulator), columns_(timelineColumns(simulator)), texts_(columns_.size()) {
        if (stageNamed(cycle)) {
            for (int k = 0; k < cycle.stageCount(); ++k) {
                names_.push_back(fmt::format(",\"{}\":{}", kStageNameColumn,
                                             recordText(cycle.stageName(static_cast<std::size_t>(k)))));
            }
        }
    }

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
        if (static_cast<std::size_t>(row.stage - 1) < names_.size()) {
            line_ += names_[static_cast<std::size_t>(row.stage - 1)];
        }
        if (row.updates != nullptr) {
            line_ += ",\"updates\":";
            line_ += recordText(updatesRecord(*row.updates));
        }
        line_ += "}\n";
        std::fwrite(line_.data(), 1, line_.size(), out_);
    }

    // Lines of their own among the samples, told from them by their
    // "record" or "warning".
    void scheduleChanged(double time, const std::vector<double> &durations, double cycleDuration) override {
        fmt::print(out_, "{}\n", recordText(scheduleRecord(++schedules_, time, durations, cycleDuration, before_)));
        before_ = durations;
    }

    void linkDrifted(const LinkDrift &drift) override {
        fmt::print(out_, "{}\n", recordText(driftRecord(cycle_, drift)));
    }

private:
    std::FILE *out_;
    const Cycle &cycle_;
    RowValues values_;
    std::vector<std::string> columns_;
    std::vector<NumberText> texts_;
    std::vector<std::string> names_;  // each stage's ,"stageName":... ; none when the cycle names no stage
    std::string line_;
    std::size_t schedules_ = 0;
    std::vector<double> before_;
};

}  // namespace

std::vector<std::string> flagNames(bool twin) {
    return {kFlagNames.begin(), kFlagNames.end() - (twin ? 1 : 0)};
}

std::vector<std::string> timelineColumns(const Simulator &simulator) {
    std::vector<std::string> columns(kTimingColumns.begin(), kTimingColumns.end());
    for (const std::string &name : flagNames(simulator.twin())) {
        columns.push_back(name);
    }
    for (const ExtraOutput &extra : simulator.extraOutputs()) {
        columns.emplace_back(extra.name);
    }
    return columns;
}

std::function<void(const TimelineRow &, double *)> rowValuesOf(const Simulator &simulator) {
    return [values = RowValues(simulator)](const TimelineRow &row, double *out) {
        values.forEach(row, [&out](double value) { *out++ = value; });
    };
}

bool stageNamed(const Cycle &cycle) {
    return std::any_of(cycle.stageNames.begin(), cycle.stageNames.end(),
                       [](const std::string &name) { return !name.empty(); });
}

std::vector<std::string> csvStageNames(const Cycle &cycle) {
    std::vector<std::string> fields;
    if (!stageNamed(cycle)) {
        return fields;
    }
    for (int k = 0; k < cycle.stageCount(); ++k) {
        const std::string name = cycle.stageName(static_cast<std::size_t>(k));
        // Quoted, with its quotes doubled, where a CSV reader would otherwise
        // split it, end its line, or trim it.
        const bool plain = name.find_first_of(",\"\r\n") == std::string::npos &&
                           (name.empty() || (name.front() != ' ' && name.front() != '\t' && name.back() != ' ' &&
                                             name.back() != '\t'));
        if (plain) {
            fields.push_back(name);
            continue;
        }
        std::string field = "\"";
        for (char c : name) {
            field += c == '"' ? std::string("\"\"") : std::string(1, c);
        }
        fields.push_back(field + "\"");
    }
    return fields;
}

std::unique_ptr<SampleSink> csvWriter(std::FILE *out, const Cycle &cycle, const Simulator &simulator) {
    return std::make_unique<CsvWriter>(out, cycle, simulator);
}

std::unique_ptr<SampleSink> jsonLinesWriter(std::FILE *out, const Cycle &cycle, const Simulator &simulator) {
    return std::make_unique<JsonLinesWriter>(out, cycle, simulator);
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
               settings.cycles != 0 ? fmt::format("the end of cycle {}", settings.cycles)
                                    : withUnit(settings.stopTime, timeUnit),
               withUnit(settings.outputInterval, timeUnit),
               simulator.timingName(), simulator.decodingName());
    fmt::print(out_, "Shown: the first sample, each sample at which {} changes, and the last sample.\n\n",
               simulator.extraOutputs().empty() ? "the stage or a timing output"
                                                : "the stage, a timing output or another output");
    std::string header;
    for (const std::string &name : names_) {
        header += column(name, columnWidth(name));
    }
    fmt::print(out_, "{}  indicator set\n", header);
}

namespace {

// Several events at one sample: each with its result, after the row.
std::string updatesNote(const TimelineRow &row) {
    if (row.updates == nullptr || row.updates->size() < 2) {
        return {};  // the updateResult column says it
    }
    std::vector<std::string> each;
    for (const EventUpdate &update : *row.updates) {
        each.push_back(fmt::format("stage {} to {}: {}", update.stage, readable(update.duration), readable(update.result)));
    }
    return fmt::format("  events: {}", fmt::join(each, ", "));
}

}  // namespace

void TableWriter::show(const TimelineRow &row, const std::string &note) {
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
    std::string line = column(readable(row.time), columnWidth("time")) +
                       column(std::to_string(row.stage), columnWidth("stage"));
    for (std::size_t k = 0; k < values.size(); ++k) {
        line += column(readable(values[k]), columnWidth(names_[k + 2]));
    }
    const std::string name = printable(cycle_.stageName(static_cast<std::size_t>(row.stage - 1)));
    fmt::print(out_, "{}  {}{}{}\n", line, indicator, name.empty() ? "" : "  (" + name + ")", note);
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
    const std::string note = updatesNote(row);
    changed = changed || !note.empty();
    if (changed) {
        show(row, note);
    }
    previous_ = row;
    previous_->updates = nullptr;
    previousNote_ = note;
    previousShown_ = changed;
}

void TableWriter::scheduleChanged(double time, const std::vector<double> &durations, double cycleDuration) {
    if (samples_ == 0) {
        return;  // the schedule at time 0 is in the summary
    }
    std::vector<std::string> shown;
    for (double duration : durations) {
        shown.push_back(readable(duration));
    }
    fmt::print(out_, "{:>16}  from time {} the durations are {} (cycle {}):\n", "", readable(time),
               fmt::join(shown, ", "), readable(cycleDuration));
}

void TableWriter::finish() {
    if (previous_ && !previousShown_) {
        show(*previous_, previousNote_);
    }
    std::string label = "actionCode";  // then the codes lined up under its end
    fmt::print(out_, "\n");
    for (const auto &[codes, meaning] : kActionCodeMeanings) {
        fmt::print(out_, "{}{:>{}}: {}\n", label, codes, 13 - label.size(), meaning);
        label.clear();
    }
    fmt::print(out_, "\n{} of {} samples shown; `su55if-host run CYCLE.csv` writes each of them as CSV.\n", shown_,
               samples_);
}

}  // namespace su55if::engine
