#include "engine/chart/chart_style.h"

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

}  // namespace su55if::engine
