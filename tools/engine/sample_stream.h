// The samples of a run as a binary stream, for programs that read them as
// numbers (the Python package): one JSON header line (the columns, and what
// the chart knows before the run), then every sample as its values in
// column order, each an IEEE 754 double in little-endian byte order, with
// nothing between them; a row whose first value is NaN is followed by a
// record of the run (run_records.h: a schedule, a cycle start, linked stages
// that parted) as JSON text. docs/host.md describes the format.
#pragma once

#include <cstdio>
#include <memory>
#include <string>

#include "engine/cycle.h"
#include "engine/simulation.h"

namespace su55if::engine {

std::unique_ptr<SampleSink> sampleStreamWriter(std::FILE *out, const Cycle &cycle, const Simulator &simulator,
                                               const RunSettings &settings, const std::string &timeUnit);

}  // namespace su55if::engine
