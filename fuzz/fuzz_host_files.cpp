// The host's file readers under any bytes: a cycle file, an input file, or a
// number and a value quoted for a message. The first byte picks which; the
// rest is the file. Every input must be read into something that holds what
// the readers promise, or refused with one Error whose message names the
// file, is short, and is printable (valid UTF-8, no control characters).
#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "engine/command_options.h"
#include "engine/cycle.h"
#include "engine/error.h"
#include "engine/timed_rows.h"
#include "engine/text.h"

namespace su55if_fuzz {
namespace {

const std::string kName = "fuzz-input.csv";
const std::array<std::string, 4> kKnownColumns{"hold", "signal", "value", "limit"};
constexpr std::size_t kMaxMessageBytes = 1024;

[[noreturn]] void failCheck(const char *what, std::string_view detail = {}) {
    std::fprintf(stderr, "check failed: %s %.*s\n", what, static_cast<int>(detail.size()), detail.data());
    std::abort();
}

void require(bool condition, const char *what, std::string_view detail = {}) {
    if (!condition) {
        failCheck(what, detail);
    }
}

// Valid UTF-8 without C0, DEL or C1 control characters.
bool printable(std::string_view text) {
    for (std::size_t i = 0; i < text.size();) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (c < 0x20 || c == 0x7F) {
            return false;
        }
        std::size_t length = c < 0x80 ? 1 : c < 0xC2 ? 0 : c < 0xE0 ? 2 : c < 0xF0 ? 3 : c < 0xF5 ? 4 : 0;
        if (length == 0 || i + length > text.size()) {
            return false;
        }
        const auto next = static_cast<unsigned char>(text[i + (length > 1 ? 1 : 0)]);
        if ((c == 0xC2 && next < 0xA0) || (c == 0xE0 && next < 0xA0) || (c == 0xED && next > 0x9F) ||
            (c == 0xF0 && next < 0x90) || (c == 0xF4 && next > 0x8F)) {
            return false;
        }
        for (std::size_t k = 1; k < length; ++k) {
            const auto b = static_cast<unsigned char>(text[i + k]);
            if (b < 0x80 || b > 0xBF) {
                return false;
            }
        }
        i += length;
    }
    return true;
}

void checkMessage(const su55if::engine::Error &error) {
    const std::string_view message = error.what();
    require(error.exitCode() == su55if::engine::kExitError, "exit code 2 for a file fault");
    require(message.starts_with(kName + ":"), "the message names the file", message);
    require(message.size() <= kMaxMessageBytes, "a short message", message.substr(0, 200));
    require(printable(message), "a printable message", message);
}

void checkCycle(std::string_view text) {
    const su55if::engine::Cycle cycle = su55if::engine::parseCycle(text, kName);
    const auto count = static_cast<std::size_t>(cycle.stageCount());
    require(count >= 1 && count <= su55if::engine::kMaxCycleStages, "1 to 100 stages");
    require(cycle.partners.size() == count && cycle.stageNames.size() == count, "one entry per stage");
    for (std::size_t k = 0; k < count; ++k) {
        require(std::isfinite(cycle.durations[k]) && cycle.durations[k] >= 0.0, "a finite duration, 0 or more");
        require(std::isfinite(cycle.partners[k]) && cycle.partners[k] == std::trunc(cycle.partners[k]),
                "a whole partner");
    }
}

void checkTimedTable(std::string_view text) {
    su55if::engine::TimedRows rows(text, kName, kKnownColumns);
    const std::vector<std::string> &columns = rows.columns();
    for (const std::string &column : columns) {
        require(std::count(columns.begin(), columns.end(), column) == 1, "each column once", column);
        require(std::find(kKnownColumns.begin(), kKnownColumns.end(), column) != kKnownColumns.end(),
                "a known column", column);
    }
    double lastTime = 0.0;
    std::uint64_t lastLine = 0;
    while (rows.next()) {
        require(std::isfinite(rows.time()), "a finite time");
        require(lastLine == 0 || (rows.time() >= lastTime && rows.line() > lastLine),
                "times that do not decrease, on later lines");
        for (std::size_t j = 0; j < columns.size(); ++j) {
            require(std::isfinite(rows.value(j)), "a finite value");
        }
        lastTime = rows.time();
        lastLine = rows.line();
    }
}

void checkNumberAndQuote(std::string_view text) {
    const su55if::engine::ParsedNumber number = su55if::engine::parseNumber(text);
    require(number.fault != su55if::engine::NumberFault::none || std::isfinite(number.value), "a finite number");
    const std::string quoted = su55if::engine::quoted(text);
    require(printable(quoted) && quoted.size() <= 200, "a short printable quote", quoted);
    require(printable(su55if::engine::printable(text)), "printable escaped text");
    try {
        su55if::engine::settingNumber("--option", text);
        require(number.fault == su55if::engine::NumberFault::none, "settingNumber refuses what parseNumber refuses");
    } catch (const su55if::engine::Error &error) {
        require(number.fault != su55if::engine::NumberFault::none, "settingNumber takes what parseNumber takes");
        require(printable(error.what()), "a printable message", error.what());
    }
}

}  // namespace
}  // namespace su55if_fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    using namespace su55if_fuzz;
    if (size == 0) {
        return 0;
    }
    const std::string_view text(reinterpret_cast<const char *>(data + 1), size - 1);
    try {
        switch (data[0] % 3) {
        case 0:
            checkCycle(text);
            break;
        case 1:
            checkTimedTable(text);
            break;
        default:
            checkNumberAndQuote(text);
            break;
        }
    } catch (const su55if::engine::Error &error) {
        checkMessage(error);
    }
    return 0;
}
