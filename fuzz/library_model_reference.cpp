// The checks' vocabulary: the report of a failed check, which names the call
// and aborts; the readings of reals as integers that the rules prescribe,
// written from the rules and not from the library's code; and the matching
// of the library's diagnostic records and the other expectations the
// procedures' checks (library_model_rules.cpp) are written in.
#include <algorithm>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "library_model_internal.h"

namespace su55if::fuzz {

// ---------------------------------------------------------------------------
// Failure reporting

Context context;

[[noreturn]] __attribute__((format(printf, 1, 2))) void fail(const char *format, ...) {
    std::fprintf(stderr, "\nsu55if fuzz check failed: call %d, %s, callMode %.17g:\n  ", context.call,
                 context.procedure, context.callMode);
    std::va_list items;
    va_start(items, format);
    std::vfprintf(stderr, format, items);
    va_end(items);
    std::fprintf(stderr, "\n");
    std::abort();
}

// ---------------------------------------------------------------------------
// Reference readings of reals as integers, written from the rules and not
// from the library's code: halves away from zero, NaN and out-of-range sums
// give INT32_MIN.

std::int32_t referenceTruncate(double x) {
    if (std::isnan(x) || x <= -2147483649.0 || x >= 2147483648.0) {
        return INT32_MIN;
    }
    return static_cast<std::int32_t>(std::trunc(x));
}

std::int32_t referenceRound(double x) { return referenceTruncate(x >= 0.0 ? x + 0.5 : x + -0.5); }

std::int32_t referenceRoundMagnitude(double x) { return referenceRound(std::fabs(x)); }

bool isSlot(std::int64_t stage) { return stage >= 1 && stage <= kMaxStages; }

// Sum of values in the table's slots first..last, left to right: the
// reference for sums whose order the library may choose.
double referenceSum(const StageTable &table, std::int64_t first, std::int64_t last, double *magnitude) {
    double sum = 0.0;
    *magnitude = 0.0;
    for (std::int64_t k = std::max<std::int64_t>(first, 1); k <= std::min<std::int64_t>(last, kMaxStages); ++k) {
        sum += table.stageDurations[k - 1];
        *magnitude += std::fabs(table.stageDurations[k - 1]);
    }
    return sum;
}

// A sum the library may form in another order: equal when the terms are
// finite and modest, else only NaN-ness is compared where it is certain.
bool closeToSum(double actual, double reference, double magnitude) {
    if (!std::isfinite(magnitude) || magnitude > 1e300) {
        return true;  // overflow may or may not happen, depending on the order
    }
    if (std::isnan(reference)) {
        return std::isnan(actual);
    }
    return std::fabs(actual - reference) <= 1e-12 * magnitude;
}


// ---------------------------------------------------------------------------
// Diagnostic records: text items exactly, integers in decimal (blanks before
// an integer and at the start of a record are allowed).

namespace {

bool matches(const std::string &record, std::initializer_list<Item> items) {
    std::size_t at = record.find_first_not_of(' ');
    if (at == std::string::npos) {
        return false;
    }
    for (const Item &item : items) {
        if (item.text != nullptr) {
            const std::size_t length = std::strlen(item.text);
            if (record.compare(at, length, item.text) != 0) {
                return false;
            }
            at += length;
        } else {
            while (at < record.size() && record[at] == ' ') {
                ++at;
            }
            const std::string number = std::to_string(item.value);
            if (record.compare(at, number.size(), number) != 0) {
                return false;
            }
            at += number.size();
            if (at < record.size() && record[at] >= '0' && record[at] <= '9') {
                return false;
            }
        }
    }
    return at == record.size();
}

}  // namespace

Item text(const char *t) { return {t, 0}; }
Item integer(std::int64_t v) { return {nullptr, v}; }

void expectRecords(const Outcome &o, std::initializer_list<std::initializer_list<Item>> records) {
    FUZZ_CHECK(o.fatal, "a fatal message was due");
    FUZZ_CHECK(o.records.size() == records.size() + 1, "%zu records, %zu expected", o.records.size(),
               records.size() + 1);
    std::size_t i = 0;
    for (const auto &record : records) {
        FUZZ_CHECK(matches(o.records[i], record), "record %zu is \"%s\"", i + 1, o.records[i].c_str());
        ++i;
    }
}

void expectUnchangedTable(const Outcome &o, const char *why) {
    FUZZ_CHECK(sameTable(o.before, o.after), "stage table changed: %s", why);
}

void expectNothingWritten(const Outcome &o, const char *why) {
    FUZZ_CHECK(!o.anyWritten(), "an output was written: %s", why);
}

void expectFlag(double value, const char *what) {
    FUZZ_CHECK(sameBits(value, 0.0) || sameBits(value, 1.0), "%s is %.17g, not 0.0 or 1.0", what, value);
}

void expectDerivativesZeroed(const Outcome &o) {
    if (o.derivativeBlock && !o.fatal) {
        FUZZ_CHECK(o.derivativesZeroed, "derivative block not zeroed");
    }
}

}  // namespace su55if::fuzz
