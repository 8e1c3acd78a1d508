// Text for people: text from files and command lines made safe to show in a
// message, and numbers and table cells as a person reads them.
#pragma once

#include <cstddef>
#include <cstdio>
#include <string>
#include <string_view>

#include <fmt/format.h>

namespace su55if::engine {

// The text as a terminal may show it: control characters and bytes that are
// not UTF-8 escaped (\n, \t, \0, \xNN; C1 controls, the bidirectional
// controls that would reorder the text around them and the non-characters
// U+FFFE and U+FFFF as the \xNN of their bytes), cut with "..." before it
// would show more than `limit` characters (an escape counts as the
// characters it shows). The result is valid UTF-8 that XML admits, and
// printable() leaves it as it is. Every text from a file, the command line or
// the library that a message, a table or a chart shows passes through it;
// only JSON fields that hold a name as such keep it as it is (shownJson()).
std::string printable(std::string_view text, std::size_t limit = std::string_view::npos);

// JSON text as written for a reader that may be a terminal: the same JSON
// value, with each bidirectional control in its strings as a \uXXXX escape
// (JSON escapes other control characters itself).
std::string shownJson(std::string_view json);

// A bad value for a message: printable() in double quotes, with `"` and `\`
// escaped too, and at most 40 characters of it as shown.
std::string quoted(std::string_view text, std::size_t limit = 40);

// The length of the valid UTF-8 sequence of two or more bytes at the start of
// `text`, or 0 when it is not one (a stray byte, a cut sequence, an overlong
// form, a surrogate or a value above U+10FFFF).
std::size_t utf8Length(std::string_view text);

// The longest start of `text` of at most `bytes` bytes that does not end
// inside a UTF-8 character (a file name cut to fit a limit).
std::string_view utf8Prefix(std::string_view text, std::size_t bytes);

// Whether `text` ends in `end` (lower case), in any case: a file name's
// extension.
inline bool endsWithIgnoringCase(std::string_view text, std::string_view end) {
    if (text.size() < end.size()) {
        return false;
    }
    for (std::size_t i = 0; i < end.size(); ++i) {
        const char c = text[text.size() - end.size() + i];
        if ((c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c) != end[i]) {
            return false;
        }
    }
    return true;
}

// A message as every front end prints it on standard error (`messages`):
// "su55if-host: TEXT".
inline void printMessage(std::FILE *messages, std::string_view text) {
    fmt::print(messages, "su55if-host: {}\n", text);
}

// A number as a person reads it, in tables and messages: at most 6
// significant digits (0.07, not 0.06999999999999999). Files (CSV, JSON) and
// the call trace keep every digit.
inline std::string readable(double value) { return fmt::format("{:.6g}", value); }

// A time or duration, readable, with its unit (printable) when there is one.
inline std::string withUnit(double value, const std::string &unit) {
    return unit.empty() ? readable(value) : fmt::format("{} {}", readable(value), printable(unit));
}

// A cell of a readable table: the text right-aligned in `width` characters,
// and at least one space before it however wide the text is.
inline std::string column(std::string_view text, std::size_t width) {
    return fmt::format(" {:>{}}", text, width > 0 ? width - 1 : 0);
}

}  // namespace su55if::engine
