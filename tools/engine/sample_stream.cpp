#include "engine/sample_stream.h"

#include <fmt/format.h>

#include <algorithm>
#include <limits>
#include <optional>
#include <cstdint>
#include <cstring>
#include <functional>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "engine/chart/chart_recorder.h"
#include "engine/timeline_writers.h"

namespace su55if::engine {

namespace {

class SampleStreamWriter : public SampleSink {
public:
    SampleStreamWriter(std::FILE *out, const Simulator &simulator, const RunSettings &settings,
                       const std::string &timeUnit)
        : out_(out), valuesOf_(rowValuesOf(simulator)) {
        const std::vector<std::string> columns = timelineColumns(simulator);
        values_.resize(columns.size());
        bytes_.resize(columns.size() * sizeof(double));
        // The part of the run that the chart shows by default.
        const ChartWindow window =
            chartWindow(std::nullopt, std::nullopt, settings, simulator.schedule().cycleDuration, timeUnit);
        const nlohmann::ordered_json header{
            {"format", "su55if-samples"},
            {"version", 1},
            {"columns", columns},
            // At most this many: a run that the library stops, or that a
            // fault in an input file ends, has fewer. A run to the end of a
            // cycle knows its number only at its end: null.
            {"samples", settings.cycles ? nlohmann::ordered_json(nullptr) : nlohmann::ordered_json(settings.lastStep + 1)},
            {"value", "float64-le"},
            // How the CSV (run --format text) writes each value, as printf
            // would: a reader can give the same text for the same samples.
            {"csvNumber", "%.17g"},
            {"chart", {{"from", window.from}, {"to", window.to}, {"note", window.note}}},
        };
        fmt::print(out_, "{}\n", header.dump());
    }

    void write(const TimelineRow &row) override {
        valuesOf_(row, values_.data());
        writeRow();
    }

    // A row whose first value is NaN, where a sample's time is: the
    // schedule from `time` on, then its durations in the rows that follow.
    void scheduleChanged(double time, const std::vector<double> &durations, double cycleDuration) override {
        std::fill(values_.begin(), values_.end(), 0.0);
        values_[0] = std::numeric_limits<double>::quiet_NaN();
        values_[1] = time;
        values_[2] = cycleDuration;
        values_[3] = static_cast<double>(durations.size());
        writeRow();
        for (std::size_t k = 0; k < durations.size(); k += values_.size()) {
            std::fill(values_.begin(), values_.end(), 0.0);
            std::copy(durations.begin() + static_cast<std::ptrdiff_t>(k),
                      durations.begin() + static_cast<std::ptrdiff_t>(std::min(durations.size(), k + values_.size())),
                      values_.begin());
            writeRow();
        }
    }

private:
    void writeRow() {
        unsigned char *cell = bytes_.data();
        for (double value : values_) {
            std::uint64_t bits = 0;
            std::memcpy(&bits, &value, sizeof bits);  // not std::bit_cast: libc++ 14 (Emscripten) lacks it
            for (int k = 0; k < 8; ++k, bits >>= 8) {
                *cell++ = static_cast<unsigned char>(bits & 0xFF);  // little-endian on any machine
            }
        }
        std::fwrite(bytes_.data(), 1, bytes_.size(), out_);
    }

    std::FILE *out_;
    std::function<void(const TimelineRow &, double *)> valuesOf_;
    std::vector<double> values_;
    std::vector<unsigned char> bytes_;
};

}  // namespace

std::unique_ptr<SampleSink> sampleStreamWriter(std::FILE *out, const Simulator &simulator,
                                               const RunSettings &settings, const std::string &timeUnit) {
    return std::make_unique<SampleStreamWriter>(out, simulator, settings, timeUnit);
}

}  // namespace su55if::engine
