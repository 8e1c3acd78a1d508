#include "engine/encoding.h"

#include <array>

#include "engine/text.h"

namespace su55if::engine {

namespace {

// Windows-1252's bytes 0x80 to 0x9F; the others are the code points of the
// same number. The five it leaves undefined stay C1 controls.
constexpr std::array<char16_t, 32> kHighControls{
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

void appendUtf8(std::string &out, char16_t c) {
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

}  // namespace

bool isUtf8(std::string_view text) {
    while (!text.empty()) {
        const std::size_t length = static_cast<unsigned char>(text.front()) < 0x80 ? 1 : utf8Length(text);
        if (length == 0) {
            return false;
        }
        text.remove_prefix(length);
    }
    return true;
}

std::string windows1252ToUtf8(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        appendUtf8(out, byte >= 0x80 && byte < 0xA0 ? kHighControls[byte - 0x80] : char16_t{byte});
    }
    return out;
}

void LineDecoder::decode(std::string &line, std::uint64_t number) {
    if (windows1252From_ == 0 && isUtf8(line)) {
        return;
    }
    if (windows1252From_ == 0) {
        windows1252From_ = number;
    }
    line = windows1252ToUtf8(line);
}

std::string decodeText(std::string_view text) {
    std::string out;
    // A byte-order mark stays, and is no part of the first line (as the
    // reader reads it).
    if (text.starts_with("\xEF\xBB\xBF")) {
        out = text.substr(0, 3);
        text.remove_prefix(3);
    }
    LineDecoder decoder;
    std::string line;
    std::uint64_t number = 0;
    while (!text.empty()) {
        const std::size_t newline = text.find('\n');
        const bool ended = newline != std::string_view::npos;
        line.assign(text.substr(0, ended ? newline : text.size()));
        decoder.decode(line, ++number);
        out += line;
        if (ended) {
            out += '\n';
        }
        text.remove_prefix(ended ? newline + 1 : text.size());
    }
    return out;
}

}  // namespace su55if::engine
