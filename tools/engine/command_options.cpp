#include "engine/command_options.h"

#include <fmt/format.h>

#include <cmath>

#include "engine/csv_reader.h"
#include "engine/error.h"

namespace su55if::engine {

double positiveTime(std::string_view option, std::string_view text) {
    const double value = readNumber(option, text);
    if (!(value > 0.0 && std::isfinite(value))) {
        throw Error(fmt::format("{} must be a finite number greater than 0", option));
    }
    return value;
}

void checkTableFormat(bool table, std::string_view format) {
    if (table && format != "text") {
        throw Error(fmt::format("--table and --format {} do not go together: the table is for reading", format));
    }
}

TimelineFormat timelineFormat(std::string_view format, bool toFile, bool table) {
    if (format == "json") {
        return TimelineFormat::jsonLines;
    }
    if (format == "binary") {
        return TimelineFormat::sampleStream;
    }
    return toFile || !table ? TimelineFormat::csv : TimelineFormat::none;
}

}  // namespace su55if::engine
