// The example cycle compiled into the host, so that `su55if-host` with no
// arguments runs from anywhere.
#pragma once

namespace su55if::engine {

inline constexpr const char *kBuiltinExampleName = "examples/four-stage.csv";
extern const char *const kBuiltinExampleText;  // the file's content

}  // namespace su55if::engine
