#include "engine/text.h"

#include <fmt/format.h>

#include <algorithm>
#include <cstdint>

namespace su55if::engine {

std::size_t utf8Length(std::string_view text) {
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
    const unsigned char lead = byte(0);
    std::size_t length = 0;
    char32_t value = 0;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
        value = lead & 0x1Fu;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        value = lead & 0x0Fu;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        value = lead & 0x07u;
    } else {
        return 0;
    }
    if (text.size() < length) {
        return 0;
    }
    for (std::size_t i = 1; i < length; ++i) {
        if ((byte(i) & 0xC0) != 0x80) {
            return 0;
        }
        value = (value << 6) | (byte(i) & 0x3Fu);
    }
    const char32_t smallest = length == 2 ? 0x80 : length == 3 ? 0x800 : 0x10000;
    if (value < smallest || (value >= 0xD800 && value <= 0xDFFF) || value > 0x10FFFF) {
        return 0;
    }
    return length;
}

std::string_view utf8Prefix(std::string_view text, std::size_t bytes) {
    std::size_t cut = std::min(text.size(), bytes);
    while (cut > 0 && cut < text.size() && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80) {
        --cut;
    }
    return text.substr(0, cut);
}

namespace {

// The bidirectional control at the start of `text`, or 0: U+061C, U+200E,
// U+200F, U+202A to U+202E and U+2066 to U+2069 reorder the text around them
// when shown, so that a name could make a message read backwards.
char32_t bidiControlAt(std::string_view text) {
    const auto byte = [&](std::size_t i) { return i < text.size() ? static_cast<unsigned char>(text[i]) : 0U; };
    if (byte(0) == 0xD8 && byte(1) == 0x9C) {
        return 0x061C;
    }
    if (byte(0) != 0xE2 || (byte(1) != 0x80 && byte(1) != 0x81) || (byte(2) & 0xC0U) != 0x80) {
        return 0;
    }
    const char32_t c = 0x2000 + ((byte(1) & 0x3FU) << 6) + (byte(2) & 0x3FU);
    return c == 0x200E || c == 0x200F || (c >= 0x202A && c <= 0x202E) || (c >= 0x2066 && c <= 0x2069) ? c : 0;
}

// How `text` starts shown: the escape or the character itself, and how many
// bytes of `text` that takes.
struct Shown {
    std::string piece;
    std::size_t bytes;
    bool escaped;
};

Shown showFirst(std::string_view text, bool inQuotes) {
    const char c = text.front();
    const auto code = static_cast<unsigned char>(c);
    const std::size_t length = code < 0x80 ? 1 : utf8Length(text);
    // U+0080 to U+009F: controls some terminals act on; U+FFFE and U+FFFF:
    // not characters, and not allowed in XML.
    const bool c1Control = length == 2 && code == 0xC2 && static_cast<unsigned char>(text[1]) < 0xA0;
    const std::string_view sequence = text.substr(0, length);
    const bool nonCharacter = sequence == "\xEF\xBF\xBE" || sequence == "\xEF\xBF\xBF";
    if (length == 0 || c1Control || nonCharacter) {
        return {fmt::format("\\x{:02X}", code), 1, true};
    }
    if (bidiControlAt(sequence) != 0) {
        std::string bytes;
        for (const char byte : sequence) {
            bytes += fmt::format("\\x{:02X}", static_cast<unsigned char>(byte));
        }
        return {bytes, length, true};
    }
    switch (c) {
    case '\n':
        return {"\\n", 1, true};
    case '\t':
        return {"\\t", 1, true};
    case '\r':
        return {"\\r", 1, true};
    case '\0':
        return {"\\0", 1, true};
    default:
        break;
    }
    if (code < 0x20 || code == 0x7F) {
        return {fmt::format("\\x{:02X}", code), 1, true};
    }
    if (inQuotes && (c == '"' || c == '\\')) {
        return {std::string{'\\', c}, 1, true};
    }
    return {std::string(sequence), length, false};
}

// `limit` counts characters as shown, so that an escape counts as the
// characters it takes (\x8F is four): a quote of many escapes stays as short
// on the screen, and in bytes, as one of plain text.
std::string escape(std::string_view text, std::size_t limit, bool inQuotes) {
    std::string shown;
    std::size_t characters = 0;
    while (!text.empty()) {
        const Shown first = showFirst(text, inQuotes);
        const std::size_t width = first.escaped ? first.piece.size() : 1;
        if (width > limit - characters) {
            return shown + "...";
        }
        characters += width;
        shown += first.piece;
        text.remove_prefix(first.bytes);
    }
    return shown;
}

}  // namespace

std::string printable(std::string_view text, std::size_t limit) { return escape(text, limit, false); }

std::string quoted(std::string_view text, std::size_t limit) { return "\"" + escape(text, limit, true) + "\""; }

std::string shownJson(std::string_view json) {
    std::string shown;
    while (!json.empty()) {
        const char32_t control = bidiControlAt(json);
        if (control != 0) {
            shown += fmt::format("\\u{:04x}", static_cast<std::uint32_t>(control));
            json.remove_prefix(control < 0x800 ? 2 : 3);
        } else {
            shown += json.front();
            json.remove_prefix(1);
        }
    }
    return shown;
}

}  // namespace su55if::engine
