#include "engine/chart/chart_style.h"

#include <fmt/format.h>

#include <algorithm>
#include <utility>

#include "callkit/table_entry.h"
#include "engine/text.h"

#include "engine/chart/chart.h"
#include "engine/chart/chart_draw.h"
#include "engine/chart/chart_recorder.h"

namespace su55if::engine {

nlohmann::ordered_json chartStyle() {
    nlohmann::ordered_json series = nlohmann::ordered_json::array();
    for (const SeriesStyle &style : seriesStyles(firstLanes())) {
        series.push_back({{"name", style.name}, {"colour", style.colour}, {"dash", style.dash}});
    }
    return {{"stageColours", chart::kPalette}, {"series", series}};
}

nlohmann::ordered_json chartMarks() {
    nlohmann::ordered_json marks;
    for (const auto &[name, mark] : {std::pair{"cycleStart", chart::kCycleStartMark},
                                     std::pair{"schedule", chart::kScheduleMark},
                                     std::pair{"linkDrift", chart::kDriftMark}}) {
        marks[name] = {{"colour", mark.colour}, {"dash", mark.dash}};
    }
    return marks;
}

// The links between existing stages, each partner read as the library reads
// it (the entry's magnitude rounded to the nearest whole number).
std::vector<ChartLink> chartLinks(const std::vector<double> &partners, int count) {
    count = std::min(count, static_cast<int>(partners.size()));
    auto entry = [&](int stage) { return partners[static_cast<std::size_t>(stage - 1)]; };
    auto partnerOf = [&](int stage) { return callkit::partnerStage(entry(stage), count); };
    std::vector<ChartLink> links;
    for (int stage = 1; stage <= count; ++stage) {
        const int partner = partnerOf(stage);
        if (partner == 0 || partner == stage) {
            continue;
        }
        const bool mutual = partnerOf(partner) == stage;
        const bool sameSign = (entry(stage) > 0.0) == (entry(partner) > 0.0);
        const bool negative = entry(stage) < 0.0;
        if (mutual && sameSign) {
            if (stage < partner) {
                links.push_back({stage, partner, true, negative, fmt::format("{}↔{}", stage, partner)});
            }
        } else {
            links.push_back({stage, partner, false, negative, fmt::format("{}→{}", stage, partner)});
        }
    }
    return links;
}

std::string chartTitle(std::string_view name, std::size_t stageCount, double cycleDuration,
                       const std::string &timeUnit) {
    return fmt::format("Cycle {}: {} stages, cycle duration {}", name, stageCount, withUnit(cycleDuration, timeUnit));
}

}  // namespace su55if::engine
