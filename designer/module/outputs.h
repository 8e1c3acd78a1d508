// What a command of the module writes, kept in memory for its result: the
// data (standard output), the messages (standard error) and the chart. Each
// holds at most 256 MB, what a script's text can hold with room to spare (a
// build for tests may give less: SU55IF_DESIGNER_OUTPUT_LIMIT); a write past
// that fails, the output is full, and a run stops at its next sample.
#pragma once

#include <cstddef>
#include <cstdio>
#include <string>
#include <vector>

#include "engine/diagnostic.h"
#include "engine/simulation.h"
#include "engine/workbench.h"

namespace su55if::designer {

// A stream whose bytes stay in memory, up to the limit (fewer when memory
// runs out first).
class MemoryStream {
public:
    MemoryStream();
    MemoryStream(const MemoryStream &) = delete;
    MemoryStream &operator=(const MemoryStream &) = delete;
    ~MemoryStream();

    std::FILE *stream() const { return stream_; }
    // Whether a write did not fit; size() is then what the stream holds.
    bool full() const { return full_; }
    std::size_t size() const { return text_.size(); }
    // Everything written, once; the stream holds nothing after.
    std::string take();

private:
    static ssize_t write(void *self, const char *data, std::size_t size);

    std::string text_;
    bool full_ = false;
    std::FILE *stream_;
};

struct Outputs {
    MemoryStream data;
    MemoryStream messages;
    MemoryStream chart;
    std::vector<engine::Diagnostic> diagnostics;  // every diagnostic the command gave

    engine::Streams streams() { return {data.stream(), messages.stream(), nullptr, false, &diagnostics}; }
    // The output that is full, as a result names it ("stdout", "stderr",
    // "chart"), or null; the first of them when more than one is.
    const char *full() const;
    const MemoryStream &named(const char *name) const;
};

// Stops a run, at the sample after an output became full, with an Error.
class FullOutputStop final : public engine::SampleSink {
public:
    explicit FullOutputStop(const Outputs &outputs) : outputs_(outputs) {}
    void write(const engine::TimelineRow &row) override;

private:
    const Outputs &outputs_;
};

}  // namespace su55if::designer
