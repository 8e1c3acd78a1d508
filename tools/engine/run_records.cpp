#include "engine/run_records.h"

#include <cmath>
#include <cstdint>
#include <cstring>

#include "engine/reports.h"
#include "engine/text.h"

namespace su55if::engine {

nlohmann::ordered_json jsonNumber(double value) {
    if (!std::isfinite(value)) {
        return nullptr;
    }
    if (std::fabs(value) < 9007199254740992.0 && value == std::trunc(value) && !(value == 0.0 && std::signbit(value))) {
        return static_cast<std::int64_t>(value);
    }
    return value;
}

nlohmann::ordered_json scheduleRecord(std::size_t number, double time, const std::vector<double> &durations,
                                      double cycleDuration, const std::vector<double> &before) {
    nlohmann::ordered_json shown = nlohmann::ordered_json::array();
    for (double duration : durations) {
        shown.push_back(jsonNumber(duration));
    }
    nlohmann::ordered_json record{
        {"record", "schedule"},         {"number", number},      {"time", jsonNumber(time)},
        {"cycleDuration", jsonNumber(cycleDuration)}, {"durations", shown},
    };
    if (!before.empty()) {
        nlohmann::ordered_json changed = nlohmann::ordered_json::array();
        for (std::size_t k = 0; k < durations.size(); ++k) {
            const double from = k < before.size() ? before[k] : 0.0;
            // Bits, not values: NaN to NaN is no change, -0 to 0 one.
            if (std::memcmp(&from, &durations[k], sizeof from) != 0) {
                changed.push_back({{"stage", k + 1}, {"from", jsonNumber(from)}, {"to", jsonNumber(durations[k])}});
            }
        }
        record["changed"] = changed;
    }
    return record;
}

nlohmann::ordered_json driftRecord(const Cycle &cycle, const LinkDrift &drift) {
    return {
        {"warning", "linkDrift"},
        {"time", drift.time},
        {"stage", drift.stage},
        {"stageName", cycle.stageName(static_cast<std::size_t>(drift.stage - 1))},
        {"duration", drift.stageDuration},
        {"partner", drift.partner},
        {"partnerName", cycle.stageName(static_cast<std::size_t>(drift.partner - 1))},
        {"partnerDuration", drift.partnerDuration},
        {"message", explainDrift(cycle, drift)},
        {"diagnostic", toJson(driftDiagnostic(cycle, drift))},
    };
}

nlohmann::ordered_json updatesRecord(const std::vector<EventUpdate> &updates) {
    nlohmann::ordered_json list = nlohmann::ordered_json::array();
    for (const EventUpdate &update : updates) {
        list.push_back(
            {{"stage", update.stage}, {"duration", jsonNumber(update.duration)}, {"updateResult", jsonNumber(update.result)}});
    }
    return list;
}

std::string recordText(const nlohmann::ordered_json &record) {
    return shownJson(record.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace));
}

}  // namespace su55if::engine
