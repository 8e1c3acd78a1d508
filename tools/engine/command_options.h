// What every front end makes of the options that su55if-host names on its
// command line, so that the host and the designer's module judge them alike.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "engine/workbench.h"

namespace su55if::engine {

// A setting's number (`option` as the host or a script names it), read as
// numbers in files are; else an Error whose diagnostic names the setting by
// its neutral key (stopTime, cycles, beds...), for each front end to name in
// its own words.
double settingNumber(std::string_view option, std::string_view text);

// Refuses a setting: an Error of kind badSetting at the setting's neutral
// key, with the value as given, the host's message and the rule that holds.
[[noreturn]] void refuseSetting(std::string_view option, std::string_view value, std::string message,
                                std::string rule);

// A time given as `--stop-time` or `--output-interval` (the option's name in
// `option`): read as numbers in files are, and usable as a time, finite and
// greater than 0; else an Error naming the option.
double positiveTime(std::string_view option, std::string_view text);

// A number of cycles given as `--cycles`: a whole number from 1 on; else an
// Error.
std::uint64_t cycleCount(std::string_view text);

// Where a chart's window begins or ends (`option`, e.g. --chart-from), when
// given as `text`: read as numbers in files are, and only with a chart
// (`chart`; `chartOption` says how to ask for one); else an Error.
std::optional<double> chartTime(std::string_view option, const std::optional<std::string> &text, bool chart,
                                std::string_view chartOption);

// The beds and the chart go together: check's chart draws the beds
// (`chart` needs `beds`), and run's beds are drawn on its chart (`beds`
// needs `chart`); each option as the caller names it. Else an Error.
void checkChartNeedsBeds(bool chart, bool beds, std::string_view chartOption, std::string_view bedsOption);
void runBedsNeedChart(bool beds, bool chart, std::string_view bedsOption, std::string_view chartOption);

// Refuses a run given both where it stops (--stop-time) and how many cycles
// it runs (--cycles).
void checkRunEnd(bool stopTime, bool cycles);

// Whether check writes JSON: --format `given` if given (text or json), else
// text; an Error for any other format.
bool checkWritesJson(const std::optional<std::string> &given);

// How a run writes its timeline: --format `given` if given (csv, also
// called text; json; binary), else the output file's name (.csv, .json or
// .jsonl, .txt for the readable table; `outputFile` empty: standard output);
// the two must agree. With --table on standard output the table takes the
// place of the CSV (TimelineFormat::none). Throws Error for a format that is
// none of these or that contradicts the file's name or --table.
TimelineFormat runTimelineFormat(const std::optional<std::string> &given, const std::string &outputFile,
                                 bool table);

}  // namespace su55if::engine
