// Cycle files: one row per stage.
//
//   # comment lines start with '#'
//   stage,duration,partner,name
//   1,10,3,main street
//   2,20,0,side road
//
// Header names in any case and any order; `stage` and `duration` are
// required, `partner` (absent: 0 for every stage) and `name` optional.
// Stages are numbered 1, 2, 3, ... in order; partner is the signed
// interaction-table entry of the stage (0 for none), passed to the library
// as it stands, so the library judges the links. A name may hold any bytes:
// whoever writes it out escapes it.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "engine/csv_reader.h"

namespace su55if::engine {

inline constexpr int kMaxCycleStages = 100;  // what the library's stage table holds

// The longest name of a stage, and of a run's time unit, in bytes; and of
// the cycle, which is often a file's path as given (PATH_MAX on Linux). A
// run's sample stream carries every name in its header line, as JSON (a
// control byte as the six of \u00XX): 100 stage names, the cycle's twice
// and the time unit, each at its bound, come to about 690 KB, within the
// 1 MiB header a reader of the stream takes (python/su55if/_timeline.py).
inline constexpr std::size_t kMaxNameBytes = 1024;
inline constexpr std::size_t kMaxCycleNameBytes = 4096;

// What a cycle file may hold: 4 KiB per line, 10,000 lines (100 stages and
// plenty of comments).
inline constexpr ReadLimits kCycleFileLimits{"cycle file", 4 * 1024, 10'000};

struct Cycle {
    std::string name;                     // as the user named the file
    std::vector<double> durations;        // stage k in element k - 1
    std::vector<double> partners;         // interaction-table entries, stage k in element k - 1
    std::vector<std::string> stageNames;  // stage k in element k - 1; empty when not named
    // The text of the cycle file as read, in UTF-8 (comment lines and all);
    // none for a cycle given as rows.
    std::optional<std::string> text;
    std::uint64_t windows1252From = 0;  // the line from which the file was read as Windows-1252, or 0

    int stageCount() const { return static_cast<int>(durations.size()); }
    // The name of stage k + 1; empty when it has none.
    std::string stageName(std::size_t k) const { return k < stageNames.size() ? stageNames[k] : std::string(); }
};

// Two stages whose durations the library requires to be equal: stage
// `stage`'s entry names `partner`, and the partner's entry names it back or
// is 0. Each pair once, in the order of the table.
struct LinkedPair {
    int stage;
    int partner;
};
std::vector<LinkedPair> linkedPairs(const Cycle &cycle);

// Reads and checks a cycle file, decoded as encoding.h says; throws Error
// naming the file, line and column of the first fault (a name of the file
// longer than kMaxCycleNameBytes is a fault of the cycle's name).
Cycle readCycle(std::unique_ptr<ByteSource> source, const std::string &name);

// The same for text already in memory; `name` is used in messages.
Cycle parseCycle(std::string_view text, const std::string &name);

// A stage as a table gives it: each cell's text as typed.
struct StageRow {
    std::string duration;
    std::string partner = "0";  // as a file without the partner column reads
    std::string name;
};

// A cycle from its rows, stage k in element k - 1, checked as a file's rows
// are; throws Error with a diagnostic for each cell at fault, placed by
// stage and field (`name` stands for the cycle in the host's messages).
Cycle cycleFromRows(std::span<const StageRow> rows, const std::string &name);

// The cycle file of `rows`: the header stage,duration,partner,name and a
// line per stage, each cell as given. With `original`, the text of the file
// the rows came from, every comment and blank line of it is kept where it
// was: before the header, before the k-th stage's line, or at the end,
// decoded as a file is read (decodeText()), so that the file written is
// UTF-8. Throws Error for a name that a line cannot hold (a line break).
std::string writeCycleFile(std::span<const StageRow> rows, std::string_view original = {});

// A cycle file's stages as typed, each cell's text unjudged (numbers,
// order and count too), for an editor to show a file with a fault as it is
// and let the check say where. Fields past the header's are kept in the
// last column. Throws Error only for what leaves no stages to show: no
// header with stage and duration, a quote not closed, a cap passed.
std::vector<StageRow> typedStages(std::string_view text, const std::string &name);

}  // namespace su55if::engine
