#include "engine/chart/chart_draw.h"

#include <algorithm>
#include <cmath>

#include "engine/text.h"

namespace su55if::engine::chart {

namespace {

// The advance of one character in em, at least that of a common sans-serif
// face, so that a box estimated from it holds the drawn text.
double charWidth(unsigned char c) {
    if (c >= 0x80) {
        return 1.0;  // a character beyond ASCII, counted once at its lead byte
    }
    if (c == 'm' || c == 'w' || c == 'M' || c == 'W' || c == '@' || c == '%' || c == '&') {
        return 1.0;
    }
    if ((c >= '0' && c <= '9') || (c >= 'a' && c <= 'z')) {
        return 0.66;
    }
    if (c >= 'A' && c <= 'Z') {
        return 0.8;
    }
    if (c == '#' || c == '+' || c == '<' || c == '=' || c == '>' || c == '^' || c == '~') {
        return 0.84;
    }
    return c == ' ' ? 0.34 : 0.66;
}

}  // namespace

double textWidth(const std::string &text, double size, bool bold) {
    double ems = 0.0;
    for (char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if ((byte & 0xC0u) != 0x80u) {
            ems += charWidth(byte);
        }
    }
    return ems * size * (bold ? 1.12 : 1.0);
}

std::string truncated(const std::string &text, double size, bool bold, double width) {
    if (textWidth(text, size, bold) <= width) {
        return text;
    }
    std::string cut = text;
    while (!cut.empty() && textWidth(cut + "…", size, bold) > width) {
        do {
            cut.pop_back();
        } while (!cut.empty() && (static_cast<unsigned char>(cut.back()) & 0xC0u) == 0x80u);
        if (!cut.empty() && static_cast<unsigned char>(cut.back()) >= 0xC0u) {
            cut.pop_back();  // the lead byte of the character just cut
        }
    }
    return cut + "…";
}

double niceStep(double span, double target) {
    const double raw = span / std::max(target, 1.0);
    const double magnitude = std::pow(10.0, std::floor(std::log10(raw)));
    for (double m : {1.0, 2.0, 5.0}) {
        if (m * magnitude >= raw) {
            return m * magnitude;
        }
    }
    return 10.0 * magnitude;
}

bool overlap(const ChartBox &a, const ChartBox &b) {
    return a.left < b.right && b.left < a.right && a.top < b.bottom && b.top < a.bottom;
}

// The segment clipped to the box's slabs in x and in y leaves a part (Liang
// and Barsky).
bool crosses(const Segment &s, const ChartBox &box) {
    double from = 0.0;
    double to = 1.0;
    auto clip = [&](double start, double delta, double low, double high) {
        if (delta == 0.0) {
            return start > low && start < high;
        }
        double a = (low - start) / delta;
        double b = (high - start) / delta;
        if (a > b) {
            std::swap(a, b);
        }
        from = std::max(from, a);
        to = std::min(to, b);
        return from < to;
    };
    return clip(s.x1, s.x2 - s.x1, box.left, box.right) && clip(s.y1, s.y2 - s.y1, box.top, box.bottom);
}

// The characters that XML gives a meaning, as entities.
std::string xmlEscaped(const std::string &text) {
    std::string out;
    for (char c : text) {
        switch (c) {
            case '&': out += "&amp;"; break;
            case '<': out += "&lt;"; break;
            case '>': out += "&gt;"; break;
            case '"': out += "&quot;"; break;
            case '\'': out += "&apos;"; break;
            default: out += c;
        }
    }
    return out;
}

ChartText Builder::text(const std::string &raw, double x, double y, Anchor anchor, double size, bool bold,
                        const char *colour) {
    ChartText t;
    t.text = printable(raw);
    t.x = x;
    t.y = y;
    t.anchor = anchor;
    t.size = size;
    t.bold = bold;
    t.colour = colour;
    const double width = textWidth(t.text, size, bold);
    const double left = anchor == Anchor::start ? x : anchor == Anchor::middle ? x - width / 2.0 : x - width;
    t.box = {left, y - 0.95 * size, left + width, y + 0.25 * size};
    return t;
}

bool Builder::fits(const ChartBox &box, bool overLines) const {
    const ChartBox padded{box.left - kGap, box.top - kGap / 2.0, box.right + kGap, box.bottom + kGap / 2.0};
    return box.left >= 0.0 && box.right <= layout.width &&
           std::none_of(obstacles_.begin(), obstacles_.end(), [&](const ChartBox &o) { return overlap(padded, o); }) &&
           (overLines ||
            std::none_of(lines_.begin(), lines_.end(), [&](const Segment &l) { return crosses(l, padded); }));
}

bool Builder::fits(const Segment &line) const {
    return std::none_of(layout.texts.begin(), layout.texts.end(),
                        [&](const ChartText &t) { return crosses(line, t.box); });
}

bool Builder::tryPlace(const ChartText &t) {
    if (!fits(t.box, t.halo)) {
        return false;
    }
    place(t);
    return true;
}

void Builder::place(const ChartText &t) {
    obstacles_.push_back(t.box);
    layout.texts.push_back(t);
}

}  // namespace su55if::engine::chart
