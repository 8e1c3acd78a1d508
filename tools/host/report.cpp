#include "report.h"

#include <fmt/format.h>

#include <cmath>

namespace su55if::host {

namespace {

// A number as a person reads it: shortest form that reads back exactly.
std::string readable(double value) { return fmt::format("{}", value); }

std::string partnerText(double entry) { return entry == 0.0 ? "-" : fmt::format("{:+}", entry); }

const char *linkKind(double entry) { return entry > 0.0 ? "positive" : "negative"; }

void printLinks(std::FILE *out, const Cycle &cycle) {
    const int count = cycle.stageCount();
    auto entry = [&](double stage) { return cycle.partners[static_cast<std::size_t>(stage) - 1]; };
    bool any = false;
    for (int stage = 1; stage <= count; ++stage) {
        const double own = entry(stage);
        const double partner = std::fabs(own);
        if (partner == 0.0) {
            continue;
        }
        any = true;
        const bool mutual = partner >= 1.0 && partner <= count && std::fabs(entry(partner)) == stage;
        if (!mutual) {
            fmt::print(out, "  {} -> {}  {} link, one way\n", stage, partner, linkKind(own));
        } else if (stage < partner) {
            const double back = entry(partner);
            if ((own > 0.0) == (back > 0.0)) {
                fmt::print(out, "  {} <-> {}  {} links\n", stage, partner, linkKind(own));
            } else {
                fmt::print(out, "  {} <-> {}  {} link from {}, {} link from {}\n", stage, partner, linkKind(own),
                           stage, linkKind(back), partner);
            }
        }
    }
    if (!any) {
        fmt::print(out, "  none\n");
    }
}

}  // namespace

std::vector<std::string> flagNames(bool twin) {
    std::vector<std::string> names{"flagForCode1", "flagForCode2", "flagForCodeMinus2"};
    if (!twin) {
        names.emplace_back("flagForCodeMinus1");
    }
    return names;
}

void printSummary(std::FILE *out, const Cycle &cycle, const Schedule &schedule) {
    fmt::print(out, "Cycle {}: {} stages, cycle duration {}\n\n", cycle.name, cycle.stageCount(),
               readable(schedule.cycleDuration));
    fmt::print(out, "{:>7}{:>10}{:>10}{:>10}{:>9}\n", "stage", "duration", "start", "end", "partner");
    double start = 0.0;
    for (std::size_t k = 0; k < schedule.durations.size(); ++k) {
        const double end = start + schedule.durations[k];
        fmt::print(out, "{:>7}{:>10}{:>10}{:>10}{:>9}\n", k + 1, readable(schedule.durations[k]), readable(start),
                   readable(end), partnerText(cycle.partners[k]));
        start = end;
    }
    fmt::print(out, "\nInteraction links:\n");
    printLinks(out, cycle);
}

std::string timelineCsv(const std::vector<TimelineRow> &rows, bool twin) {
    std::string text = "time,stage,elapsed,delayForCode2,delayForCode1,actionCode";
    for (const std::string &name : flagNames(twin)) {
        text += "," + name;
    }
    text += "\n";
    for (const TimelineRow &row : rows) {
        fmt::format_to(std::back_inserter(text), "{:.17g},{},{:.17g},{:.17g},{:.17g},{:.17g}", row.time, row.stage,
                       row.elapsed, row.delayForCode2, row.delayForCode1, row.actionCode);
        for (double flag : row.flags) {
            fmt::format_to(std::back_inserter(text), ",{:.17g}", flag);
        }
        text += "\n";
    }
    return text;
}

void printTimelineTable(std::FILE *out, const std::vector<TimelineRow> &rows, const Simulator &simulator,
                        const RunSettings &settings) {
    const std::vector<std::string> names = flagNames(simulator.twin());
    fmt::print(out, "\nTimeline from 0 to {} every {}: {} and {} for the stage in force.\n",
               readable(settings.stopTime), readable(settings.outputInterval), simulator.timingName(),
               simulator.decodingName());
    fmt::print(out, "Shown: the samples at which the stage or a timing output changes, and the last one.\n\n");
    fmt::print(out, "{:>9}{:>7}{:>9}{:>15}{:>15}{:>12}  {}\n", "time", "stage", "elapsed", "delayForCode2",
               "delayForCode1", "actionCode", "indicator set");
    for (std::size_t i = 0; i < rows.size(); ++i) {
        const TimelineRow &row = rows[i];
        const bool changed = i == 0 || row.stage != rows[i - 1].stage ||
                             row.delayForCode2 != rows[i - 1].delayForCode2 ||
                             row.delayForCode1 != rows[i - 1].delayForCode1 || row.actionCode != rows[i - 1].actionCode;
        if (!changed && i + 1 != rows.size()) {
            continue;
        }
        std::string indicator = "-";
        for (std::size_t k = 0; k < row.flags.size(); ++k) {
            if (row.flags[k] == 1.0) {
                indicator = names[k];
            }
        }
        fmt::print(out, "{:>9}{:>7}{:>9}{:>15}{:>15}{:>12}  {}\n", readable(row.time), row.stage,
                   readable(row.elapsed), readable(row.delayForCode2), readable(row.delayForCode1),
                   readable(row.actionCode), indicator);
    }
    fmt::print(out,
               "\nactionCode  2: the partner last began delayForCode2 before the start of this stage\n"
               "            1: the partner last began delayForCode1 before the start of this stage\n"
               "       -1, -2: the partner last began a wrap-around span back, and time has not yet passed that span\n"
               "            0: the stage has no partner\n"
               "\n{} samples in all; `su55if-host run CYCLE.csv` writes each of them as CSV.\n",
               rows.size());
}

}  // namespace su55if::host
