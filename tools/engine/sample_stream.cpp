#include "engine/sample_stream.h"

#include <fmt/format.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <functional>
#include <limits>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

#include "engine/chart/chart.h"
#include "engine/chart/chart_recorder.h"
#include "engine/chart/chart_style.h"
#include "engine/run_records.h"
#include "engine/timeline_writers.h"

namespace su55if::engine {

namespace {

// What the chart knows before the run: the part it shows by default, its
// title, the links with their labels, how many marks of one kind it draws
// at most, its colours, and what the action codes mean.
nlohmann::ordered_json chartFacts(const Cycle &cycle, const Simulator &simulator, const RunSettings &settings,
                                  const std::string &timeUnit) {
    const ChartWindow window =
        chartWindow(std::nullopt, std::nullopt, settings, simulator.schedule().cycleDuration, timeUnit);
    nlohmann::ordered_json facts{{"from", window.from}, {"to", window.to}};
    if (window.firstCycles != 0) {
        facts["firstCycles"] = window.firstCycles;
        facts["runCycles"] = window.runCycles;
    }
    facts["maxMarks"] = kMaxMarks;
    facts["procedures"] = {simulator.timingName(), simulator.decodingName()};
    facts["title"] = chartTitle(cycle.name, simulator.schedule().durations.size(), simulator.schedule().cycleDuration,
                                timeUnit);
    nlohmann::ordered_json links = nlohmann::ordered_json::array();
    for (const ChartLink &link : chartLinks(cycle.partners, cycle.stageCount())) {
        links.push_back({{"from", link.from}, {"to", link.to}, {"bothWays", link.bothWays},
                         {"negative", link.negative}, {"label", link.label}});
    }
    facts["links"] = links;
    const nlohmann::ordered_json style = chartStyle();
    facts["stageColours"] = style["stageColours"];
    facts["series"] = style["series"];
    facts["marks"] = chartMarks();
    nlohmann::ordered_json codes = nlohmann::ordered_json::array();
    for (const auto &[values, meaning] : kActionCodeMeanings) {
        codes.push_back({{"codes", values}, {"meaning", meaning}});
    }
    facts["actionCodes"] = codes;
    return facts;
}

class SampleStreamWriter : public SampleSink {
public:
    SampleStreamWriter(std::FILE *out, const Cycle &cycle, const Simulator &simulator, const RunSettings &settings,
                       const std::string &timeUnit)
        : out_(out), cycle_(cycle), valuesOf_(rowValuesOf(simulator)) {
        const std::vector<std::string> columns = timelineColumns(simulator);
        values_.resize(columns.size());
        bytes_.resize(columns.size() * sizeof(double));
        nlohmann::ordered_json header{
            {"format", "su55if-samples"},
            {"version", 2},
            {"columns", columns},
            // At most this many: a run that the library stops, or that a
            // fault in an input file ends, has fewer. A run to the end of a
            // cycle knows its count only at its end: null.
            {"samples", settings.cycles != 0 ? nlohmann::ordered_json(nullptr)
                                             : nlohmann::ordered_json(settings.lastStep + 1)},
            {"value", "float64-le"},
            // How the CSV (run --format text) writes each value, as printf
            // would, and each stage's name as its last column: a reader can
            // give the same text for the same samples.
            {"csvNumber", "%.17g"},
        };
        const std::vector<std::string> names = csvStageNames(cycle);
        if (!names.empty()) {
            header["csvStageName"] = {{"column", kStageNameColumn}, {"fields", names}};
        }
        header["chart"] = chartFacts(cycle, simulator, settings, timeUnit);
        fmt::print(out_, "{}\n", recordText(header));
    }

    void write(const TimelineRow &row) override {
        if (startsCycle(lastStage_, row.stage)) {
            ++cycles_;
            if (cycles_ > 1) {
                writeRecord({{"record", "cycleStart"}, {"time", jsonNumber(row.time)}, {"cycle", cycles_}});
            }
        }
        lastStage_ = row.stage;
        valuesOf_(row, values_.data());
        writeRow();
    }

    void scheduleChanged(double time, const std::vector<double> &durations, double cycleDuration) override {
        writeRecord(scheduleRecord(++schedules_, time, durations, cycleDuration, before_));
        before_ = durations;
    }

    void linkDrifted(const LinkDrift &drift) override { writeRecord(driftRecord(cycle_, drift)); }

private:
    // A row whose first value is NaN, where a sample's time is, and whose
    // second is the length in bytes of a JSON object that fills the rows
    // after it, the last one padded with zeros.
    void writeRecord(const nlohmann::ordered_json &record) {
        const std::string text = recordText(record);
        std::fill(values_.begin(), values_.end(), 0.0);
        values_[0] = std::numeric_limits<double>::quiet_NaN();
        values_[1] = static_cast<double>(text.size());
        writeRow();
        for (std::size_t k = 0; k < text.size(); k += bytes_.size()) {
            std::fill(bytes_.begin(), bytes_.end(), 0);
            std::memcpy(bytes_.data(), text.data() + k, std::min(bytes_.size(), text.size() - k));
            std::fwrite(bytes_.data(), 1, bytes_.size(), out_);
        }
    }

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
    const Cycle &cycle_;
    std::function<void(const TimelineRow &, double *)> valuesOf_;
    std::vector<double> values_;
    std::vector<unsigned char> bytes_;
    std::size_t schedules_ = 0;
    std::vector<double> before_;
    int lastStage_ = 1;        // the run begins in a cycle: the first starts at time 0
    std::uint64_t cycles_ = 1;
};

}  // namespace

std::unique_ptr<SampleSink> sampleStreamWriter(std::FILE *out, const Cycle &cycle, const Simulator &simulator,
                                               const RunSettings &settings, const std::string &timeUnit) {
    return std::make_unique<SampleStreamWriter>(out, cycle, simulator, settings, timeUnit);
}

}  // namespace su55if::engine
