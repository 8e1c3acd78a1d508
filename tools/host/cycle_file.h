// Cycle files: one row per stage, header stage,duration,partner.
//
//   # comment lines start with '#'
//   stage,duration,partner
//   1,10,3
//   2,20,0
//
// Stages are numbered 1, 2, 3, ... in order; partner is the signed
// interaction-table entry of the stage (0 for none), passed to the library
// as it stands, so the library judges the links.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace su55if::host {

inline constexpr int kMaxCycleStages = 100;  // what the library's stage table holds

struct Cycle {
    std::string name;               // as the user named the file
    std::vector<double> durations;  // stage k in element k - 1
    std::vector<double> partners;   // interaction-table entries, stage k in element k - 1

    int stageCount() const { return static_cast<int>(durations.size()); }
};

// Reads and checks a cycle file; throws HostError naming the file, line and
// column of the first fault.
Cycle readCycleFile(const std::string &path);

// The same for text already in memory; `name` is used in messages.
Cycle parseCycle(std::string_view text, const std::string &name);

}  // namespace su55if::host
