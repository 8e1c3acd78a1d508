// A cycle given as rows, as programs give it (Python): a JSON document
//
//   {"name": "feed cycle", "stages": [{"duration": 10, "partner": 3, "name": "feed"}, ...],
//    "text": "the cycle file the rows came from, if any"}
//
// read from a file or standard input ("-"), at most 4 MiB. Durations and
// partners are numbers or texts, read as the cells of a cycle file are.
#pragma once

#include <string>
#include <vector>

#include "engine/cycle.h"

namespace su55if::host {

struct CycleRows {
    std::string name;  // the document's name, else the path it came from
    std::vector<engine::StageRow> rows;
    std::string text;  // empty when the rows came from no file
};

// Throws engine::Error naming `path` for a document that cannot be read.
CycleRows readCycleRows(const std::string &path);

}  // namespace su55if::host
