// What every front end makes of the options that su55if-host names on its
// command line, so that the host and the designer's module judge them alike.
#pragma once

#include <string_view>

#include "engine/workbench.h"

namespace su55if::engine {

// A time given as `--stop-time` or `--output-interval` (the option's name in
// `option`): read as numbers in files are, and usable as a time, finite and
// greater than 0; else an Error naming the option.
double positiveTime(std::string_view option, std::string_view text);

// Refuses --table with a --format other than text.
void checkTableFormat(bool table, std::string_view format);

// How a run writes its timeline for --format `format` (text, json or
// binary), to a file of its own or not, with --table or not.
TimelineFormat timelineFormat(std::string_view format, bool toFile, bool table);

}  // namespace su55if::engine
