#include "engine/text.h"

#include <fmt/format.h>

#include <algorithm>

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

std::string escape(std::string_view text, std::size_t limit, bool inQuotes) {
    std::string shown;
    std::size_t characters = 0;
    while (!text.empty()) {
        if (characters == limit) {
            return shown + "...";
        }
        ++characters;
        const char c = text.front();
        const auto code = static_cast<unsigned char>(c);
        std::size_t length = code < 0x80 ? 1 : utf8Length(text);
        // U+0080 to U+009F: controls some terminals act on; U+FFFE and
        // U+FFFF: not characters, and not allowed in XML.
        const bool c1Control = length == 2 && code == 0xC2 && static_cast<unsigned char>(text[1]) < 0xA0;
        const std::string_view sequence = text.substr(0, length);
        const bool nonCharacter = sequence == "\xEF\xBF\xBE" || sequence == "\xEF\xBF\xBF";
        if (length == 0 || c1Control || nonCharacter) {
            shown += fmt::format("\\x{:02X}", code);
            length = 1;
        } else if (c == '\n') {
            shown += "\\n";
        } else if (c == '\t') {
            shown += "\\t";
        } else if (c == '\r') {
            shown += "\\r";
        } else if (c == '\0') {
            shown += "\\0";
        } else if (code < 0x20 || code == 0x7F) {
            shown += fmt::format("\\x{:02X}", code);
        } else if (inQuotes && (c == '"' || c == '\\')) {
            shown += '\\';
            shown += c;
        } else {
            shown.append(text.substr(0, length));
        }
        text.remove_prefix(length);
    }
    return shown;
}

}  // namespace

std::string printable(std::string_view text, std::size_t limit) { return escape(text, limit, false); }

std::string quoted(std::string_view text, std::size_t limit) { return "\"" + escape(text, limit, true) + "\""; }

}  // namespace su55if::engine
