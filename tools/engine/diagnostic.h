// A diagnostic as data: every fault, refusal and warning of the engine, with
// a stable kind, where it is, the values concerned and, where there is one,
// the fix. Each front end words it for its own user: the host as
// "FILE:LINE:COLUMN: message", the designer page at the table's cell, Python
// in its own argument names. `message` is the host's sentence; `rule` says
// what holds in words that name no file, line, option or program.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json_fwd.hpp>

namespace su55if::engine {

// The kinds, by the stable names their JSON gives (kindName()).
enum class DiagnosticKind {
    other,              // a fault with no kind of its own: the message says it all
    cannotRead,         // a file that cannot be opened or read
    outOfMemory,
    emptyFile,
    lineTooLong,
    tooManyLines,
    unclosedQuote,
    textAfterQuote,
    emptyColumnName,
    unknownColumn,
    repeatedColumn,
    missingColumn,
    tooManyValues,
    tooFewValues,
    noStages,
    tooManyStages,
    stageOutOfOrder,
    missingValue,
    notNumber,
    decimalComma,  // "4,5": a number with a comma where a point was meant
    notFinite,
    outOfRange,
    notWhole,
    negativeDuration,
    badRow,              // a row of an input or events file
    partnerNotInCycle,   // the library rejected the cycle: an entry names no stage of it
    partnerIsItself,
    oneWayLink,
    linkedDurationsDiffer,
    runStopped,          // the library stopped a run (status 4)
    cycleNotRunnable,    // accepted by the library, but no run can step through it
    badSetting,          // a setting (`option`) that cannot be used
    linkDrift,           // warning: two linked stages came to last differently
    driftsNotShown,      // warning: how many more drift warnings were left out
    lineBreak,           // a cell to write that holds a line break, which a cycle file cannot
    bedMisfit,           // a link that does not fit the number of beds checked (stage and partner)
    nameTooLong,         // a stage's name longer than kMaxNameBytes, or the cycle's than kMaxCycleNameBytes
    readAsWindows1252,   // note: a file that is not UTF-8, read as Windows-1252 from its line on
};

std::string_view kindName(DiagnosticKind kind);

// A note tells a fact of the report that is no fault (a file read as
// Windows-1252).
enum class Severity { error, warning, note };

std::string_view severityName(Severity severity);

// The field of a stage a diagnostic concerns.
enum class StageField { none, stage, duration, partner, name };

std::string_view fieldName(StageField field);

// A number concerned, by what it is: {"entry", 11}, {"duration", 30}.
struct DiagnosticValue {
    std::string name;
    double number = 0.0;
};

// What would mend it, as data: set `field` of `stage` to one of `choices`
// (the partner that makes a link reciprocal, the duration both linked
// stages could take); with `sameRowAs`, set it in the same row or event
// that sets stage sameRowAs (a drifting link). A fix with no stage and
// field (a link that does not fit the beds) has its text, and in `choices`
// the offsets at which the link would fit.
struct Fix {
    int stage = 0;  // 0: no fix
    StageField field = StageField::none;
    std::vector<double> choices;
    int sameRowAs = 0;
    int namedBy = 0;  // the stage whose own entry suggests this partner
    std::string text;  // the host's sentence for it: "To fix it: ..."
};

struct Diagnostic {
    DiagnosticKind kind = DiagnosticKind::other;
    Severity severity = Severity::error;
    std::string message;  // the host's wording, without where it is
    std::string rule;     // what holds, in neutral words ("a duration is 0 or more"); may be empty

    // Where: in a file (line and column 0 when not known) ...
    std::string file;
    std::uint64_t line = 0;
    std::size_t column = 0;
    // ... at a stage and its field (stage 0: none) ...
    int stage = 0;
    StageField field = StageField::none;
    int partner = 0;  // the other stage concerned, 0 for none
    // ... or in a setting, by a neutral key ("stopTime", "cycles").
    std::string option;
    double time = 0.0;  // during a run: when (hasTime)
    bool hasTime = false;

    std::string value;  // the text concerned, as given
    std::vector<DiagnosticValue> values;
    std::vector<std::string> libraryRecords;  // the library's own lines, for runStopped
    Fix fix;
};

// A diagnostic of `kind` with the host's message and the neutral rule.
Diagnostic diagnostic(DiagnosticKind kind, std::string message, std::string rule = {});

// The host's line for it: "FILE:LINE:COLUMN: message", "FILE: stage 2:
// message" for a stage given as a row, without the program's name (the
// fix's sentence, when the host shows it, is a line of its own).
std::string hostText(const Diagnostic &diagnostic);

// The diagnostic as a JSON object; every key present, null where it has
// no value.
nlohmann::json toJson(const Diagnostic &diagnostic);

}  // namespace su55if::engine
