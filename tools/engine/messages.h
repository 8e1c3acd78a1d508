// Where the engine writes: data, messages and the call log, and how its
// diagnostics reach the messages.
#pragma once

#include <cstdio>
#include <vector>

#include "engine/diagnostic.h"

namespace su55if::engine {

// Where a command writes: `data` the report or the timeline, `messages`
// warnings and explanations (what goes to standard error), `callLog` every
// library call (--log-calls) or null.
struct Streams {
    std::FILE *data = nullptr;
    std::FILE *messages = nullptr;
    std::FILE *callLog = nullptr;
    bool messagesAsJson = false;  // each diagnostic a JSON line on `messages` instead of the host's text
    std::vector<Diagnostic> *diagnostics = nullptr;  // when given, every diagnostic also goes here
};

// A diagnostic on streams.messages: the host's text ("su55if-host: FILE:
// message", warnings as "warning: ...", the library's own records and the
// fix on lines of their own) or a JSON line; and into streams.diagnostics.
void report(const Streams &streams, const Diagnostic &diagnostic);

}  // namespace su55if::engine
