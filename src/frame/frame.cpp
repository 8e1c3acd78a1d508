#include "frame/frame.h"

#include <cstdarg>
#include <cstdio>

namespace su55if {

void Diagnostic::append(const char *characters, std::size_t count) {
    const std::size_t room = sizeof text_ - length_;
    const std::size_t copied = count < room ? count : room;
    std::memcpy(text_ + length_, characters, copied);
    length_ += copied;
}

void Diagnostic::record(const char *format, ...) {
    // Formatting writes no output, so it may happen while the table is held.
    char line[128];
    std::va_list items;
    va_start(items, format);
    const int length = std::vsnprintf(line, sizeof line, format, items);
    va_end(items);
    // A negative length is an encoding error; a longer one was cut to the
    // line's room (its last byte holds the terminating NUL).
    if (length > 0) {
        const auto formatted = static_cast<std::size_t>(length);
        append(line, formatted < sizeof line ? formatted : sizeof line - 1);
    }
    append("\n", 1);
}

void Diagnostic::terminate() {
    record("Simulation Terminated");
    *status_ = SU55IF_STATUS_FATAL;
}

void Diagnostic::print() const {
    if (length_ == 0) {
        return;
    }
    std::fwrite(text_, 1, length_, stdout);
    std::fflush(stdout);
}

}  // namespace su55if
