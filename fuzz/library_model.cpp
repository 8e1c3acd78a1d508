#include "library_model.h"


#include <algorithm>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>

#include "harness/guarded_call.h"
#include "harness/helpers.h"
#include "callkit/procedures.h"
#include "callkit/record_capture.h"
#include "schedule/stage_table.h"
#include "su55if.h"

namespace su55if::fuzz {

namespace {

using su55if::StageTable;
using test::kInf;
using test::kNaN;
using test::sameBits;

constexpr std::int32_t kMaxStages = SU55IF_MAX_STAGES;

double fromBits(std::uint64_t bits) {
    double value;
    std::memcpy(&value, &bits, sizeof value);
    return value;
}

// ---------------------------------------------------------------------------
// Failure reporting

// What the call being checked was, for the report of a failed check.
struct Context {
    const char *procedure = "";
    int call = 0;
    double callMode = 0.0;
};
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

#define FUZZ_CHECK(condition, ...) \
    do {                           \
        if (!(condition)) {        \
            fail(__VA_ARGS__);     \
        }                          \
    } while (0)

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

}  // namespace

// ---------------------------------------------------------------------------
// Input

std::uint8_t Input::byte() { return position_ < size_ ? data_[position_++] : 0; }

std::uint32_t Input::u32() {
    std::uint32_t value = 0;
    for (int i = 0; i < 4; ++i) {
        value = (value << 8) | byte();
    }
    return value;
}

std::uint64_t Input::u64() { return (static_cast<std::uint64_t>(u32()) << 32) | u32(); }

std::int64_t Input::between(std::int64_t low, std::int64_t high) {
    const auto span = static_cast<std::uint64_t>(high - low) + 1U;
    const std::uint64_t raw = span <= 256U ? byte() : u32();
    return low + static_cast<std::int64_t>(raw % span);
}

double Input::real() {
    static const double kSpecial[] = {
        0.0, -0.0, kInf, -kInf, kNaN, -kNaN, fromBits(0x7FF0000000000001ULL), fromBits(0xFFF8DEADBEEF0001ULL),
        std::numeric_limits<double>::min(), -std::numeric_limits<double>::min(),
        std::numeric_limits<double>::max(), -std::numeric_limits<double>::max(),
        std::numeric_limits<double>::denorm_min(), -std::numeric_limits<double>::denorm_min(),
        0.5, -0.5, 1.5, -1.5, 2.5, -2.5, 0.49999999999999994, -0.49999999999999994, 0.49, -0.49,
        2147483647.0, 2147483647.4, 2147483647.5, 2147483648.0, 2147483648.5,
        -2147483648.0, -2147483648.4, -2147483648.5, -2147483649.0, -2147483649.5,
        4294967296.0, -4294967296.0, 1e10, -1e10, 9.2233720368547758e18, 1e300, -1e300,
        99.5, 100.0, 100.49, 100.5, 101.0, 4.9, 3.999, -0.7, 1e-9, -1e-9, 1e-300,
    };
    switch (byte() % 12U) {
        case 0:
        case 1:
        case 2:
            return fromBits(u64());  // anything, NaN payloads and subnormals included
        case 3:
        case 4:
            return kSpecial[byte() % (sizeof kSpecial / sizeof kSpecial[0])];
        case 5: {  // small integers and the fractions around their halves
            static const double kFraction[] = {0.0, 0.5, 0.49, 0.51, 0.49999999999999994, 0.25, 0.75, 1e-12};
            const double whole = static_cast<double>(between(-130, 130));
            const double fraction = kFraction[byte() % 8U];
            return whole < 0.0 ? whole - fraction : whole + fraction;
        }
        case 6: {  // around +-2^31
            static const double kDelta[] = {-1.5, -1.0, -0.5, -0.49, 0.0, 0.49, 0.5, 1.0, 1.5};
            const double edge = flag() ? 2147483648.0 : -2147483648.0;
            return edge + kDelta[byte() % 9U];
        }
        case 7: {  // subnormal, either sign
            const std::uint64_t mantissa = (u64() & 0x000FFFFFFFFFFFFFULL) | 1U;
            return fromBits(mantissa | (flag() ? 0x8000000000000000ULL : 0U));
        }
        case 8: {  // NaN with a payload, quiet or signalling, either sign
            const std::uint64_t payload = (u64() & 0x000FFFFFFFFFFFFFULL) | 1U;
            return fromBits(0x7FF0000000000000ULL | payload | (flag() ? 0x8000000000000000ULL : 0U));
        }
        case 9: {  // any magnitude
            const double mantissa = 1.0 + static_cast<double>(u32()) / 4294967296.0;
            const double value = std::ldexp(mantissa, static_cast<int>(between(-1074, 1023)));
            return flag() ? -value : value;
        }
        case 10:
            return static_cast<double>(static_cast<std::int32_t>(u32()));
        default:
            return static_cast<double>(between(-3, 3)) * 0.5;
    }
}

double Input::integerLike(std::int64_t count) {
    const std::uint8_t kind = byte() % 8U;
    if (kind == 0) {
        return real();
    }
    const double whole = static_cast<double>(between(-2, std::max<std::int64_t>(count, 0) + 2));
    static const double kFraction[] = {0.0, 0.0, 0.0, 0.4, 0.49, 0.5, -0.5, -0.49, 0.49999999999999994};
    return whole + kFraction[byte() % 9U];
}

double Input::duration() {
    static const double kDurations[] = {10.0, 20.0, 30.0, 10.0, 0.0, -0.0, 5.5, 0.1, 1e-300, 40.0, -10.0, 1e300};
    return byte() % 4U == 0 ? real() : kDurations[byte() % (sizeof kDurations / sizeof kDurations[0])];
}

double Input::time() {
    static const double kTimes[] = {0.0, -0.0, -1.0, 1e-9, 1.0, 50.0, 60.0, 80.0, 1000.0, kNaN, kInf, -kInf};
    return byte() % 4U == 0 ? real() : kTimes[byte() % (sizeof kTimes / sizeof kTimes[0])];
}

double Input::callMode() {
    static const double kModes[] = {0.0, 0.0, 3.0, 4.0, 4.0, 4.9, 3.999, -0.7, -0.0, 1.0,
                                    2.0, 5.0, -1.0, kNaN, 2147483648.0, -2147483649.0};
    return byte() % 8U == 0 ? real() : kModes[byte() % (sizeof kModes / sizeof kModes[0])];
}

std::int32_t Input::stageCount() {
    switch (byte() % 8U) {
        case 0:
        case 1:
            return static_cast<std::int32_t>(between(0, 5));
        case 2:
            return static_cast<std::int32_t>(between(95, 105));
        case 3:
            return static_cast<std::int32_t>(between(0, 130));
        case 4:
            return static_cast<std::int32_t>(between(-3, 0));
        default:  // at the limit
            return static_cast<std::int32_t>(between(99, 102));
    }
}

const char *nameOf(Procedure procedure) {
    static const char *const kNames[] = {"SU55IF_DEFST", "SU55IF_CHKST",  "SU55IF_UPSTGTIM",
                                         "SU55IF_INTTIM", "SU55IF_IINTTIM", "SU55IF_ACTYP",
                                         "SU55IF_IACTYP", "SU55IF_REPTIM", "SU55IF_PFNRSWTCH"};
    return kNames[static_cast<int>(procedure)];
}

namespace {

su55if_procedure *entryOf(Procedure procedure) {
    static su55if_procedure *const kEntries[] = {SU55IF_DEFST,  SU55IF_CHKST,  SU55IF_UPSTGTIM,
                                                 SU55IF_INTTIM, SU55IF_IINTTIM, SU55IF_ACTYP,
                                                 SU55IF_IACTYP, SU55IF_REPTIM, SU55IF_PFNRSWTCH};
    return kEntries[static_cast<int>(procedure)];
}

// ---------------------------------------------------------------------------
// The library's records, captured call by call (the fuzzer itself reports on
// standard error).

su55if::callkit::RecordCapture &capture() {
    static su55if::callkit::RecordCapture instance;
    return instance;
}

// ---------------------------------------------------------------------------
// One call as a host lays it out: the frame from the procedure description,
// in argument order or reversed, with 1 to 3 gap cells before and after
// every argument; the other pointer arguments between guard cells
// (test::GuardedCall).

double unwrittenValue(std::size_t i) { return fromBits(0x7FF40BAD00000000ULL | i); }
double derivativeValue(std::size_t i) { return fromBits(0x7FF50DE400000000ULL | i); }

// A small generator for layout choices, seeded from the input.
struct Shuffle {
    std::uint32_t state;
    std::uint32_t next() {
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        return state;
    }
};

struct Call {
    Procedure procedure = Procedure::PFNRSWTCH;
    std::vector<std::vector<double>> inputs;
    std::vector<std::size_t> outputCounts;
    std::vector<int> outputSizes;   // as declared; DEFST reads element 1
    std::vector<double> workspace;  // REPTIM: 5 reals or more
    int count1 = 0;
    int count2 = 0;
    double callMode = 0.0;
    int status = 0;
    std::uint32_t layoutSeed = 1;
};

struct Outcome {
    std::vector<std::vector<double>> outputs;
    std::vector<std::vector<bool>> written;
    std::vector<double> workspace;
    int status = 0;
    bool fatal = false;
    std::vector<std::string> records;
    StageTable before{};
    StageTable after{};
    bool derivativesZeroed = false;
    bool derivativesUntouched = false;
    bool derivativeBlock = false;  // the call mode asked for zeroing and both extents are positive

    bool anyWritten() const {
        for (const auto &argument : written) {
            for (bool w : argument) {
                if (w) {
                    return true;
                }
            }
        }
        return false;
    }
    double out(std::size_t k, std::size_t element = 0) const { return outputs[k - 1][element]; }
    bool wrote(std::size_t k, std::size_t element = 0) const { return written[k - 1][element]; }
};

bool sameTable(const StageTable &a, const StageTable &b) {
    if (a.stageCount != b.stageCount || !sameBits(a.cycleDuration, b.cycleDuration)) {
        return false;
    }
    for (int k = 0; k < kMaxStages; ++k) {
        if (!sameBits(a.requestedDurations[k], b.requestedDurations[k]) ||
            !sameBits(a.stageDurations[k], b.stageDurations[k])) {
            return false;
        }
    }
    return true;
}

std::vector<std::string> splitRecords(const std::string &text) {
    std::vector<std::string> records;
    std::size_t start = 0;
    while (start < text.size()) {
        const std::size_t end = text.find('\n', start);
        FUZZ_CHECK(end != std::string::npos, "standard output ends without a line end: \"%s\"", text.c_str());
        records.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    return records;
}

std::int32_t truncatedMode(double callMode) { return referenceTruncate(callMode); }
bool asksOutputs(double callMode) {
    const std::int32_t m = truncatedMode(callMode);
    return m == SU55IF_MODE_OUTPUTS || m == SU55IF_MODE_BOTH;
}
bool asksDerivatives(double callMode) {
    const std::int32_t m = truncatedMode(callMode);
    return m == SU55IF_MODE_DERIVATIVES || m == SU55IF_MODE_BOTH;
}

// Lays out and makes the call, then checks what holds for every procedure:
// guards, inputs and integer vectors untouched, status only unchanged, 1 or
// 4, a fatal message ending in "Simulation Terminated" with nothing written,
// the derivative block zeroed exactly when asked for, the stage table within
// its limit.
Outcome perform(const Call &call) {
    context.procedure = nameOf(call.procedure);
    context.callMode = call.callMode;

    const procedures::Procedure &description = procedures::find(nameOf(call.procedure));
    std::vector<procedures::Length> lengths;
    const auto ownLength = [&](std::span<const procedures::Argument> arguments, std::size_t k, std::size_t count) {
        if (procedures::hasOwnSize(arguments, k)) {
            lengths.emplace_back(arguments[k].name, static_cast<int>(count));
        }
    };
    for (std::size_t k = 0; k < call.inputs.size(); ++k) {
        ownLength(description.inputs, k, call.inputs[k].size());
    }
    for (std::size_t k = 0; k < call.outputCounts.size(); ++k) {
        ownLength(description.outputs, k, call.outputCounts[k]);
    }
    Shuffle shuffle{call.layoutSeed | 1U};
    const procedures::Placement placement{
        .gap = 1 + shuffle.next() % 3U, .gapValue = -31415.75, .reversed = (shuffle.next() & 1U) != 0};
    procedures::Frame frame(description, lengths, placement);
    for (std::size_t k = 0; k < call.inputs.size(); ++k) {
        const std::span<double> values = frame.input(static_cast<int>(k) + 1);
        FUZZ_CHECK(values.size() == call.inputs[k].size(), "input %zu laid out with %zu values", k + 1,
                   values.size());
        std::copy(call.inputs[k].begin(), call.inputs[k].end(), values.begin());
    }
    for (std::size_t k = 0; k < call.outputCounts.size(); ++k) {
        const auto first = static_cast<std::size_t>(frame.outputOffsets[k] - 1);
        for (std::size_t e = first; e < first + call.outputCounts[k]; ++e) {
            frame.realOutputs[e] = unwrittenValue(e);
        }
    }
    const test::GuardedCall guarded(frame);
    frame.outputSizes = call.outputSizes;
    frame.statusBefore = call.status;
    frame.workspace = call.workspace;
    frame.workspaceSize = static_cast<int>(call.workspace.size());
    const bool block = call.count1 > 0 && call.count2 > 0;
    const std::size_t blockSize =
        block ? static_cast<std::size_t>(call.count1) * static_cast<std::size_t>(call.count2) : 0U;
    frame.derivativeCount1 = call.count1;
    frame.derivativeCount2 = call.count2;
    frame.derivatives.resize(blockSize);
    for (std::size_t i = 0; i < blockSize; ++i) {
        frame.derivatives[i] = derivativeValue(i);
    }

    Outcome outcome;
    outcome.before = su55if::stageTable;
    capture().begin();
    const std::vector<std::string> faults = guarded.run(frame, entryOf(call.procedure), call.callMode);
    capture().end();
    outcome.after = su55if::stageTable;
    outcome.records = splitRecords(capture().take());
    outcome.status = frame.status;

    // Nothing but outputs, status, workspace and derivatives may change.
    FUZZ_CHECK(faults.empty(), "%s", faults.empty() ? "" : faults.front().c_str());
    for (std::size_t i = 0; i < call.workspace.size(); ++i) {
        FUZZ_CHECK(call.procedure == Procedure::REPTIM || sameBits(frame.workspace[i], call.workspace[i]),
                   "workspace element %zu changed", i + 1);
    }
    for (std::size_t k = 0; k < call.outputCounts.size(); ++k) {
        outcome.outputs.emplace_back();
        outcome.written.emplace_back();
        const auto first = static_cast<std::size_t>(frame.outputOffsets[k] - 1);
        for (std::size_t e = first; e < first + call.outputCounts[k]; ++e) {
            outcome.outputs.back().push_back(frame.realOutputs[e]);
            outcome.written.back().push_back(!sameBits(frame.realOutputs[e], unwrittenValue(e)));
        }
    }
    outcome.workspace = frame.workspace;

    // status: the host's value, 1 or 4, and 4 exactly after a fatal message.
    FUZZ_CHECK(outcome.status == call.status || outcome.status == SU55IF_STATUS_REPTIM ||
                   outcome.status == SU55IF_STATUS_FATAL,
               "status %d (was %d)", outcome.status, call.status);
    outcome.fatal = outcome.status == SU55IF_STATUS_FATAL;
    if (outcome.fatal) {
        FUZZ_CHECK(outcome.records.size() >= 2, "status 4 with %zu records", outcome.records.size());
        const std::string &last = outcome.records.back();
        const std::size_t text = last.find_first_not_of(' ');
        FUZZ_CHECK(text != std::string::npos && last.substr(text) == "Simulation Terminated",
                   "last record of a fatal message is \"%s\"", last.c_str());
        FUZZ_CHECK(!outcome.anyWritten(), "an output was written by a call that ended fatally");
        FUZZ_CHECK(sameTable(outcome.before, outcome.after), "a call that ended fatally changed the stage table");
    } else {
        FUZZ_CHECK(outcome.records.empty(), "message without status 4: \"%s\"", outcome.records.front().c_str());
    }

    bool zeroed = true;
    bool untouched = true;
    for (std::size_t i = 0; i < blockSize; ++i) {
        zeroed = zeroed && sameBits(frame.derivatives[i], 0.0);
        untouched = untouched && sameBits(frame.derivatives[i], derivativeValue(i));
    }
    FUZZ_CHECK(zeroed || untouched, "derivative block partly written");
    outcome.derivativesZeroed = zeroed;
    outcome.derivativesUntouched = untouched;
    outcome.derivativeBlock = block && asksDerivatives(call.callMode);
    if (outcome.fatal || !outcome.derivativeBlock) {
        FUZZ_CHECK(untouched, "derivative block written (fatal %d)", outcome.fatal);
    }

    FUZZ_CHECK(outcome.after.stageCount <= kMaxStages, "stageCount %d above %d", outcome.after.stageCount,
               kMaxStages);
    return outcome;
}

// ---------------------------------------------------------------------------
// Diagnostic records: text items exactly, integers in decimal (blanks before
// an integer and at the start of a record are allowed).

struct Item {
    const char *text;  // null for an integer item
    std::int64_t value;
};

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

// ---------------------------------------------------------------------------
// What each procedure must do, from its rules.

void checkDefineStages(const Call &c, const Outcome &o) {
    const std::vector<double> &requested = c.inputs[0];
    const std::vector<double> &inForce = c.inputs[1];
    const auto v = static_cast<std::int32_t>(requested.size());
    const double time = c.inputs[3][0];
    const StageTable &b = o.before;
    const StageTable &a = o.after;

    bool requestedChange = false;
    bool inForceChange = false;
    if (v == b.stageCount && v >= 1) {
        for (std::int32_t k = 0; k < v; ++k) {
            requestedChange = requestedChange || requested[static_cast<std::size_t>(k)] != b.requestedDurations[k];
            inForceChange = inForceChange || inForce[static_cast<std::size_t>(k)] != b.stageDurations[k];
        }
    }
    const bool countDiffers = v != b.stageCount;
    bool accept = false;
    bool fromRequested = true;
    if (time <= 0.0) {
        accept = countDiffers || requestedChange;
    } else if (time > 0.0 && referenceRound(c.inputs[2][0]) == 0) {
        accept = countDiffers || requestedChange || inForceChange;
        fromRequested = false;
    }

    if (accept && v > kMaxStages) {
        expectRecords(o, {{text("Number of stages "), integer(v), text(" is greater than maximum of "),
                           integer(kMaxStages), text(" allowed.")}});
        return;
    }
    FUZZ_CHECK(!o.fatal, "fatal without a reason (v %d, accept %d)", v, accept);
    expectDerivativesZeroed(o);

    if (accept) {
        FUZZ_CHECK(a.stageCount == v, "accepted %d stages, stageCount is %d", v, a.stageCount);
        for (std::int32_t k = 0; k < kMaxStages; ++k) {
            const auto e = static_cast<std::size_t>(k);
            const bool stored = k < v;
            FUZZ_CHECK(sameBits(a.requestedDurations[k], stored ? requested[e] : b.requestedDurations[k]),
                       "requestedDurations slot %d", k + 1);
            FUZZ_CHECK(sameBits(a.stageDurations[k],
                                stored ? (fromRequested ? requested[e] : inForce[e]) : b.stageDurations[k]),
                       "stageDurations slot %d", k + 1);
        }
        double magnitude = 0.0;
        const double sum = referenceSum(a, 1, v, &magnitude);
        FUZZ_CHECK(closeToSum(a.cycleDuration, sum, magnitude), "cycleDuration %.17g, sum %.17g", a.cycleDuration,
                   sum);
        if (v <= 0) {
            FUZZ_CHECK(sameBits(a.cycleDuration, 0.0), "cycleDuration of no stages is %.17g", a.cycleDuration);
        }
        FUZZ_CHECK(o.wrote(5) && sameBits(o.out(5), a.cycleDuration), "output 5 after an acceptance");
    } else {
        expectUnchangedTable(o, "no acceptance was due");
    }

    if (!asksOutputs(c.callMode)) {
        for (std::size_t k = 1; k <= 4; ++k) {
            for (std::size_t e = 0; e < c.outputCounts[k - 1]; ++e) {
                FUZZ_CHECK(!o.wrote(k, e), "output %zu written in a call mode without outputs", k);
            }
        }
        FUZZ_CHECK(accept || !o.wrote(5), "output 5 written without acceptance or outputs");
        return;
    }

    const std::int64_t reported = c.outputSizes[0];
    for (std::int64_t k = 0; k < static_cast<std::int64_t>(c.outputCounts[0]); ++k) {
        const auto e = static_cast<std::size_t>(k);
        if (k < std::min<std::int64_t>(reported, kMaxStages)) {
            FUZZ_CHECK(o.wrote(1, e) && sameBits(o.out(1, e), a.stageDurations[k]), "output 1 element %lld",
                       static_cast<long long>(k + 1));
        }
    }
    const std::int32_t stage = referenceRound(c.inputs[4][0]);
    FUZZ_CHECK(o.wrote(2) && o.wrote(3), "outputs 2 and 3 written");
    if (isSlot(stage)) {
        FUZZ_CHECK(sameBits(o.out(2), a.stageDurations[stage - 1]), "output 2 for stage %d", stage);
    }
    if (stage >= a.stageCount) {
        FUZZ_CHECK(sameBits(o.out(3), a.stageDurations[0]), "output 3 for stage %d of %d", stage, a.stageCount);
    } else if (isSlot(static_cast<std::int64_t>(stage) + 1)) {
        FUZZ_CHECK(sameBits(o.out(3), a.stageDurations[stage]), "output 3 for stage %d", stage);
    }
    const double reference = c.inputs[5][0];
    const double elapsed = (time > 0.0 && time >= reference) ? time - reference : 0.0;
    FUZZ_CHECK(o.wrote(4) && sameBits(o.out(4), elapsed), "output 4 is %.17g, not %.17g", o.out(4), elapsed);
    FUZZ_CHECK(o.wrote(5) && sameBits(o.out(5), a.cycleDuration), "output 5");
}

void checkCheckStages(const Call &c, const Outcome &o) {
    const std::vector<double> &durations = c.inputs[0];
    const auto n = static_cast<std::int32_t>(durations.size());
    const StageTable &b = o.before;
    const StageTable &a = o.after;
    if (!asksOutputs(c.callMode)) {
        FUZZ_CHECK(!o.fatal, "fatal in a call mode without outputs");
        expectUnchangedTable(o, "call mode without outputs");
        expectNothingWritten(o, "call mode without outputs");
        expectDerivativesZeroed(o);
        return;
    }
    if (!(c.inputs[1][0] > 0.0)) {
        FUZZ_CHECK(!o.fatal, "fatal with the check switched off");
        expectUnchangedTable(o, "check switched off");
        FUZZ_CHECK(o.wrote(1) && sameBits(o.out(1), 0.0), "output with the check switched off");
        expectDerivativesZeroed(o);
        return;
    }
    if (n > kMaxStages) {
        // The table has no room: refused with the stage definition's message,
        // or handled otherwise, but never stored past the limit.
        if (o.fatal) {
            expectRecords(o, {{text("Number of stages "), integer(n), text(" is greater than maximum of "),
                               integer(kMaxStages), text(" allowed.")}});
        }
        return;
    }
    FUZZ_CHECK(!o.fatal, "fatal for %d stages", n);
    bool changed = false;
    std::vector<double> expected(b.stageDurations, b.stageDurations + kMaxStages);
    if (n != b.stageCount) {
        changed = true;
        for (std::int32_t k = 0; k < n; ++k) {
            expected[static_cast<std::size_t>(k)] = durations[static_cast<std::size_t>(k)];
        }
    } else {
        for (std::int32_t k = 0; k < n; ++k) {
            const double given = durations[static_cast<std::size_t>(k)];
            if (!(b.stageDurations[k] == given)) {
                expected[static_cast<std::size_t>(k)] = given;
                changed = true;
            }
        }
    }
    FUZZ_CHECK(a.stageCount == n, "stageCount %d after %d durations", a.stageCount, n);
    for (int k = 0; k < kMaxStages; ++k) {
        FUZZ_CHECK(sameBits(a.stageDurations[k], expected[static_cast<std::size_t>(k)]), "stageDurations slot %d",
                   k + 1);
        FUZZ_CHECK(sameBits(a.requestedDurations[k], b.requestedDurations[k]), "requestedDurations changed");
    }
    FUZZ_CHECK(sameBits(a.cycleDuration, b.cycleDuration), "cycleDuration changed");
    FUZZ_CHECK(o.wrote(1) && sameBits(o.out(1), changed ? 1.0 : 0.0), "durationsChanged is %.17g", o.out(1));
    expectDerivativesZeroed(o);
}

void checkUpdateStageDuration(const Call &c, const Outcome &o) {
    const StageTable &b = o.before;
    const StageTable &a = o.after;
    FUZZ_CHECK(!o.fatal, "fatal message");
    expectDerivativesZeroed(o);
    FUZZ_CHECK(a.stageCount == b.stageCount, "stageCount changed");
    for (int k = 0; k < kMaxStages; ++k) {
        FUZZ_CHECK(sameBits(a.requestedDurations[k], b.requestedDurations[k]), "requestedDurations changed");
    }
    if (!asksOutputs(c.callMode)) {
        expectUnchangedTable(o, "call mode without outputs");
        expectNothingWritten(o, "call mode without outputs");
        return;
    }
    FUZZ_CHECK(o.wrote(1), "updateResult not written");
    const double result = o.out(1);
    FUZZ_CHECK(sameBits(result, 0.0) || sameBits(result, 1.0) || sameBits(result, 2.0), "updateResult %.17g",
               result);
    const double newDuration = c.inputs[2][0];
    const std::vector<double> &table = c.inputs[3];
    const std::int32_t stage = referenceRound(c.inputs[1][0]);
    if (c.inputs[0][0] <= 0.0 || stage == 0) {
        FUZZ_CHECK(sameBits(result, 0.0), "updateResult %.17g for no update", result);
        expectUnchangedTable(o, "no update due");
        return;
    }
    const bool stageKnown = isSlot(stage) && static_cast<std::size_t>(stage) <= table.size();
    const std::int32_t partner = stageKnown ? referenceRoundMagnitude(table[static_cast<std::size_t>(stage - 1)]) : 0;
    if (!stageKnown || (partner != 0 && !isSlot(partner))) {
        // A stage or partner without a slot: whatever the result, no slot
        // but a named one may change.
        for (int k = 1; k <= kMaxStages; ++k) {
            FUZZ_CHECK(k == stage || k == partner || sameBits(a.stageDurations[k - 1], b.stageDurations[k - 1]),
                       "slot %d changed for stage %d, partner %d", k, stage, partner);
        }
        return;
    }
    FUZZ_CHECK(sameBits(result, partner != 0 ? 2.0 : 1.0), "updateResult %.17g for stage %d, partner %d", result,
               stage, partner);
    for (int k = 1; k <= kMaxStages; ++k) {
        const bool set = k == stage || k == partner;
        FUZZ_CHECK(sameBits(a.stageDurations[k - 1], set ? newDuration : b.stageDurations[k - 1]),
                   "slot %d after setting stage %d, partner %d", k, stage, partner);
    }
    double magnitude = 0.0;
    const double sum = referenceSum(a, 1, a.stageCount, &magnitude);
    FUZZ_CHECK(closeToSum(a.cycleDuration, sum, magnitude), "cycleDuration %.17g, sum %.17g", a.cycleDuration, sum);
    if (a.stageCount <= 0) {
        FUZZ_CHECK(sameBits(a.cycleDuration, 0.0), "cycleDuration of no stages");
    }
}

// The outcome of the interaction checks, from their rules; `known` is false
// where the rules leave the treatment open (entries that do not fit an
// integer, partners past the table's end, entries above the stage limit).
struct CheckVerdict {
    bool known = true;
    bool fatal = false;
    std::int32_t entry = 0;
    const char *suffix = nullptr;
};

CheckVerdict referenceTableCheck(const std::vector<double> &table, const StageTable &t) {
    const std::int32_t count = t.stageCount;
    for (std::size_t index = 1; index <= table.size(); ++index) {
        const auto i = static_cast<std::int32_t>(index);
        const std::int32_t f = referenceRoundMagnitude(table[index - 1]);
        if (f == 0) {
            continue;
        }
        if (f == INT32_MIN) {
            return {false};
        }
        if (f > count) {
            return {true, true, i, " is invalid."};
        }
        if (f == i) {
            return {true, true, i, " refers to itself."};
        }
        if (static_cast<std::size_t>(f) > table.size() || i > kMaxStages) {
            return {false};
        }
        const std::int32_t q = referenceRoundMagnitude(table[static_cast<std::size_t>(f - 1)]);
        if (q == INT32_MIN) {
            return {false};
        }
        if (q != 0 && q != i) {
            return {true, true, i, " has invalid match."};
        }
        if (!(t.stageDurations[i - 1] == t.stageDurations[f - 1])) {
            return {true, true, i, " invalid time match."};
        }
    }
    return {};
}

void checkInteractionTiming(const Call &c, const Outcome &o) {
    const bool twin = c.procedure == Procedure::IINTTIM;
    const std::vector<double> &table = c.inputs[0];
    const std::int32_t stage = referenceRound(c.inputs[1][0]);
    const double time = c.inputs[2][0];
    const StageTable &t = o.before;
    expectUnchangedTable(o, "the interaction procedures only read the table");

    if (t.stageCount > 0 && stage > t.stageCount) {
        if (twin) {
            expectRecords(o, {{text("Stage number "), integer(stage), text(" is invalid.")}});
        } else {
            expectRecords(o, {{text("Total number stages "), integer(t.stageCount)},
                              {text("Stage number "), integer(stage), text(" is invalid.")}});
        }
        return;
    }
    if (time <= 0.0 && t.stageCount > 0) {
        const CheckVerdict verdict = referenceTableCheck(table, t);
        if (!verdict.known) {
            if (o.fatal) {
                FUZZ_CHECK(o.records.size() == 2 && o.records[0].find("Interaction stage ") != std::string::npos,
                           "unexpected diagnostic \"%s\"", o.records[0].c_str());
            }
            return;
        }
        if (verdict.fatal) {
            expectRecords(o, {{text("Interaction stage "), integer(verdict.entry), text(verdict.suffix)}});
            return;
        }
    }
    FUZZ_CHECK(!o.fatal, "fatal message \"%s\" for a passing check", o.records.front().c_str());

    if (!asksOutputs(c.callMode)) {
        expectNothingWritten(o, "call mode without outputs");
        expectDerivativesZeroed(o);
        return;
    }
    FUZZ_CHECK(o.wrote(1) && o.wrote(2) && o.wrote(3), "not every output written");
    const double code = o.out(3);
    const double delay2 = o.out(1);
    const double delay1 = o.out(2);
    const bool known = sameBits(code, 2.0) || sameBits(code, 1.0) || sameBits(code, 0.0) || sameBits(code, -2.0) ||
                       (!twin && sameBits(code, -1.0));
    FUZZ_CHECK(known, "actionCode %.17g", code);
    if (!(code > 0.0)) {
        FUZZ_CHECK(sameBits(delay1, 0.0) && sameBits(delay2, 0.0), "spans %.17g, %.17g with code %.17g", delay2,
                   delay1, code);
    }
    if (sameBits(code, 2.0)) {
        FUZZ_CHECK(sameBits(delay1, 0.0), "output 2 is %.17g with code 2", delay1);
    }
    if (sameBits(code, 1.0)) {
        FUZZ_CHECK(sameBits(delay2, 0.0), "output 1 is %.17g with code 1", delay2);
    }
    // INTTIM after an all-zero result may leave the block (either is allowed).
    if (!(sameBits(code, 0.0) && !twin)) {
        expectDerivativesZeroed(o);
    }

    // The case of the table, where stage and partner name slots.
    if (t.stageCount == 0) {
        FUZZ_CHECK(sameBits(code, 0.0), "code %.17g without stages", code);
        return;
    }
    if (!isSlot(stage) || static_cast<std::size_t>(stage) > table.size()) {
        return;
    }
    const double e = table[static_cast<std::size_t>(stage - 1)];
    const std::int32_t g = referenceRoundMagnitude(e);
    if (g == 0) {
        FUZZ_CHECK(sameBits(code, 0.0), "code %.17g for a stage without partner", code);
        return;
    }
    if (!isSlot(g)) {
        return;
    }
    if (e > 0.0) {
        if (g < stage) {
            FUZZ_CHECK(sameBits(code, 2.0), "code %.17g for an earlier positive partner", code);
            double magnitude = 0.0;
            FUZZ_CHECK(closeToSum(delay2, referenceSum(t, g, stage - 1, &magnitude), magnitude), "span %.17g",
                       delay2);
        } else if (twin) {
            FUZZ_CHECK(sameBits(code, 1.0) && sameBits(delay1, 0.0), "IINTTIM: code %.17g for a later partner",
                       code);
        } else {
            FUZZ_CHECK(sameBits(code, 1.0) || sameBits(code, -1.0), "code %.17g for a later positive partner", code);
        }
    } else {
        if (g > stage) {
            FUZZ_CHECK(sameBits(code, 2.0) || sameBits(code, -2.0), "code %.17g for a later negative partner", code);
        } else {
            FUZZ_CHECK(sameBits(code, 1.0), "code %.17g for an earlier negative partner", code);
            double magnitude = 0.0;
            FUZZ_CHECK(closeToSum(delay1, referenceSum(t, g, stage - 1, &magnitude), magnitude), "span %.17g",
                       delay1);
        }
    }
}

void checkActionType(const Call &c, const Outcome &o) {
    FUZZ_CHECK(!o.fatal, "fatal message");
    expectUnchangedTable(o, "decoding uses no table");
    expectDerivativesZeroed(o);
    if (!asksOutputs(c.callMode)) {
        expectNothingWritten(o, "call mode without outputs");
        return;
    }
    const std::int32_t r = referenceRound(c.inputs[0][0]);
    const double expected[] = {r == 1 ? 1.0 : 0.0, r == 2 ? 1.0 : 0.0, r == -2 ? 1.0 : 0.0, r == -1 ? 1.0 : 0.0};
    for (std::size_t k = 1; k <= c.outputCounts.size(); ++k) {
        FUZZ_CHECK(o.wrote(k), "flag %zu not written", k);
        expectFlag(o.out(k), "flag");
        FUZZ_CHECK(sameBits(o.out(k), expected[k - 1]), "flag %zu is %.17g for code %d", k, o.out(k), r);
    }
}

void checkStepDuration(const Call &c, const Outcome &o) {
    FUZZ_CHECK(o.status == SU55IF_STATUS_REPTIM, "status %d after SU55IF_REPTIM", o.status);
    FUZZ_CHECK(o.records.empty(), "message");
    expectUnchangedTable(o, "REPTIM uses no table");
    expectDerivativesZeroed(o);
    const std::vector<double> &w = c.workspace;
    for (std::size_t i = 5; i < w.size(); ++i) {
        FUZZ_CHECK(sameBits(o.workspace[i], w[i]), "workspace element %zu beyond the five changed", i + 1);
    }
    if (!asksOutputs(c.callMode)) {
        expectNothingWritten(o, "call mode without outputs");
        for (std::size_t i = 0; i < 5; ++i) {
            FUZZ_CHECK(sameBits(o.workspace[i], w[i]), "workspace slot %zu changed without outputs", i + 1);
        }
        return;
    }
    bool started = w[3] > 0.5;
    bool finished = w[4] > 0.5;
    double start = w[0];
    double end = w[1];
    const double signal = c.inputs[0][0];
    const double time = c.inputs[1][0];
    if (!started && signal > 0.0) {
        started = true;
        start = time;
    } else if (started && !finished && signal <= 0.0) {
        finished = true;
        end = w[2];
    }
    const double duration = started && finished ? end - start : 0.0;
    const double slots[] = {start, end, time, started ? 1.0 : 0.0, finished ? 1.0 : 0.0};
    for (std::size_t i = 0; i < 5; ++i) {
        FUZZ_CHECK(sameBits(o.workspace[i], slots[i]), "workspace slot %zu is %.17g, not %.17g", i + 1,
                   o.workspace[i], slots[i]);
    }
    FUZZ_CHECK(o.wrote(1) && sameBits(o.out(1), duration), "recordedDuration %.17g, not %.17g", o.out(1), duration);
}

void checkSwitchSignal(const Call &c, const Outcome &o) {
    FUZZ_CHECK(!o.fatal, "fatal message");
    expectUnchangedTable(o, "the switch uses no table");
    expectDerivativesZeroed(o);
    if (!asksOutputs(c.callMode)) {
        expectNothingWritten(o, "call mode without outputs");
        return;
    }
    const bool off = c.inputs[1][0] > c.inputs[0][0] || c.inputs[2][0] < 0.0;
    FUZZ_CHECK(o.wrote(1) && sameBits(o.out(1), off ? 0.0 : 1.0), "switchSignal %.17g", o.out(1));
}

void checkProcedure(const Call &c, const Outcome &o) {
    switch (c.procedure) {
        case Procedure::DEFST:
            checkDefineStages(c, o);
            break;
        case Procedure::CHKST:
            checkCheckStages(c, o);
            break;
        case Procedure::UPSTGTIM:
            checkUpdateStageDuration(c, o);
            break;
        case Procedure::INTTIM:
        case Procedure::IINTTIM:
            checkInteractionTiming(c, o);
            break;
        case Procedure::ACTYP:
        case Procedure::IACTYP:
            checkActionType(c, o);
            break;
        case Procedure::REPTIM:
            checkStepDuration(c, o);
            break;
        case Procedure::PFNRSWTCH:
            checkSwitchSignal(c, o);
            break;
    }
    if (c.procedure != Procedure::REPTIM) {
        FUZZ_CHECK(o.status == c.status || o.status == SU55IF_STATUS_FATAL, "status %d (was %d)", o.status,
                   c.status);
    }
    const bool mayFail = c.procedure == Procedure::DEFST || c.procedure == Procedure::CHKST ||
                         c.procedure == Procedure::INTTIM || c.procedure == Procedure::IINTTIM;
    FUZZ_CHECK(mayFail || !o.fatal, "fatal message from a procedure that has none");
}

// ---------------------------------------------------------------------------
// The host: what it keeps between calls and how it fills each call.

struct Host {
    std::vector<double> schedule;           // the durations it passes to DEFST
    std::vector<double> interactions;       // its interaction table
    std::vector<double> workspaces[2];      // two instances of REPTIM
    double lastActionCode = 0.0;            // passed on to ACTYP and IACTYP
    double clock = 0.0;
};

// A schedule of `count` stages whose linked stages last equally long, and an
// interaction table that links them, both signs mixed; then a few faults.
void pairedWorld(Input &in, Host &host, std::int32_t count) {
    const auto n = static_cast<std::size_t>(std::max<std::int32_t>(count, 0));
    host.schedule.assign(n, 0.0);
    host.interactions.assign(n, 0.0);
    std::vector<std::size_t> order(n);
    for (std::size_t i = 0; i < n; ++i) {
        order[i] = i;
    }
    for (std::size_t i = n; i > 1; --i) {
        std::swap(order[i - 1], order[static_cast<std::size_t>(in.between(0, static_cast<std::int64_t>(i - 1)))]);
    }
    std::size_t i = 0;
    while (i < n) {
        const double duration = in.duration();
        const std::size_t a = order[i];
        host.schedule[a] = duration;
        if (i + 1 < n && in.byte() % 4U != 0) {
            const std::size_t b = order[i + 1];
            host.schedule[b] = duration;
            const double signA = in.flag() ? 1.0 : -1.0;
            const double signB = in.flag() ? 1.0 : -1.0;
            host.interactions[a] = signA * static_cast<double>(b + 1);
            host.interactions[b] = in.byte() % 8U == 0 ? 0.0 : signB * static_cast<double>(a + 1);
            i += 2;
        } else {
            i += 1;
        }
    }
    const std::int64_t faults = in.byte() % 4U == 0 ? in.between(1, 3) : 0;
    for (std::int64_t f = 0; f < faults && n > 0; ++f) {
        const auto at = static_cast<std::size_t>(in.between(0, static_cast<std::int64_t>(n - 1)));
        if (in.flag()) {
            host.interactions[at] = in.integerLike(count);
        } else {
            host.schedule[at] = in.duration();
        }
    }
}

std::vector<double> someDurations(Input &in, std::int32_t count) {
    std::vector<double> values(static_cast<std::size_t>(std::max<std::int32_t>(count, 0)));
    for (double &v : values) {
        v = in.duration();
    }
    return values;
}

// A vector like `base`, sometimes with one element changed.
std::vector<double> perhapsChanged(Input &in, std::vector<double> base) {
    if (!base.empty() && in.byte() % 4U == 0) {
        base[static_cast<std::size_t>(in.between(0, static_cast<std::int64_t>(base.size() - 1)))] = in.duration();
    }
    return base;
}

void frameOptions(Input &in, Call &call) {
    call.callMode = in.callMode();
    static const int kStatus[] = {0, 0, 0, 2, 3, 17, -1, 5, INT32_MIN, INT32_MAX};
    call.status = kStatus[in.byte() % 10U];
    switch (in.byte() % 8U) {
        case 0:
            call.count1 = 0;
            call.count2 = static_cast<int>(in.between(-2, 5));
            break;
        case 1:
            call.count1 = static_cast<int>(in.between(-3, -1));
            call.count2 = static_cast<int>(in.between(-3, 3));
            break;
        case 2:
            call.count1 = in.flag() ? INT32_MAX : INT32_MIN;
            call.count2 = in.flag() ? 0 : INT32_MIN;
            break;
        case 3:
            call.count1 = static_cast<int>(in.between(1, 64));
            call.count2 = static_cast<int>(in.between(1, 64));
            break;
        default:
            call.count1 = static_cast<int>(in.between(1, 4));
            call.count2 = static_cast<int>(in.between(1, 4));
            break;
    }
    call.layoutSeed = in.u32();
}

void scalarOutputs(Call &call, std::size_t count) {
    for (std::size_t k = 0; k < count; ++k) {
        call.outputCounts.push_back(1);
        call.outputSizes.push_back(1);
    }
}

Call defineCall(Input &in, Host &host) {
    Call call;
    call.procedure = Procedure::DEFST;
    const std::int32_t current = su55if::stageTable.stageCount;
    std::vector<double> requested;
    switch (in.byte() % 4U) {
        case 0:
            requested = someDurations(in, in.stageCount());
            break;
        case 1:
            requested = perhapsChanged(in, std::vector<double>(su55if::stageTable.requestedDurations,
                                                               su55if::stageTable.requestedDurations +
                                                                   std::clamp(current, 0, kMaxStages)));
            break;
        default:
            requested = perhapsChanged(in, host.schedule);
            break;
    }
    const auto v = static_cast<std::int32_t>(requested.size());
    const std::vector<double> inForce = in.flag() ? perhapsChanged(in, requested) : someDurations(in, v);
    static const double kHold[] = {0.0, 0.0, 0.4, 0.5, -0.5, 1.0, kNaN, -0.0};
    call.inputs = {requested,
                   inForce,
                   {in.byte() % 8U == 0 ? in.real() : kHold[in.byte() % 8U]},
                   {in.time()},
                   {in.integerLike(v)},
                   {in.time()}};
    std::int32_t reported = v;
    switch (in.byte() % 4U) {
        case 0:
            reported = static_cast<std::int32_t>(in.between(-2, 130));
            break;
        case 1:
            reported = in.flag() ? 100 : 101;
            break;
        default:
            break;
    }
    call.outputCounts = {static_cast<std::size_t>(std::max(reported, 0)), 1, 1, 1, 1};
    call.outputSizes = {reported, 1, 1, 1, 1};
    frameOptions(in, call);
    return call;
}

Call checkCall(Input &in, Host &host) {
    Call call;
    call.procedure = Procedure::CHKST;
    const std::int32_t current = std::clamp(su55if::stageTable.stageCount, 0, kMaxStages);
    std::vector<double> durations;
    switch (in.byte() % 4U) {
        case 0:  // the durations in force, perhaps with one changed
            durations = perhapsChanged(in, std::vector<double>(su55if::stageTable.stageDurations,
                                                               su55if::stageTable.stageDurations + current));
            break;
        case 1:
            durations = perhapsChanged(in, host.schedule);
            break;
        default:
            durations = someDurations(in, in.stageCount());
            break;
    }
    static const double kSwitch[] = {1.0, 1.0, 0.0, -1.0, kNaN, 0.5, 1e-300};
    call.inputs = {durations, {in.byte() % 8U == 0 ? in.real() : kSwitch[in.byte() % 7U]}};
    scalarOutputs(call, 1);
    frameOptions(in, call);
    return call;
}

std::vector<double> interactionTable(Input &in, Host &host) {
    switch (in.byte() % 4U) {
        case 0: {
            std::vector<double> table(static_cast<std::size_t>(std::max(in.stageCount(), 0)));
            for (double &entry : table) {
                entry = in.byte() % 2U == 0 ? 0.0 : in.integerLike(static_cast<std::int64_t>(table.size()));
            }
            return table;
        }
        case 1:
            if (!host.interactions.empty()) {
                std::vector<double> table = host.interactions;
                table.resize(static_cast<std::size_t>(in.between(0, static_cast<std::int64_t>(table.size()) + 3)),
                             0.0);
                return table;
            }
            return host.interactions;
        default:
            return host.interactions;
    }
}

Call updateCall(Input &in, Host &host) {
    Call call;
    call.procedure = Procedure::UPSTGTIM;
    static const double kSwitch[] = {1.0, 1.0, 0.0, -1.0, kNaN, 2.0};
    const std::vector<double> table = interactionTable(in, host);
    call.inputs = {{in.byte() % 8U == 0 ? in.real() : kSwitch[in.byte() % 6U]},
                   {in.integerLike(static_cast<std::int64_t>(table.size()))},
                   {in.duration()},
                   table};
    scalarOutputs(call, 1);
    frameOptions(in, call);
    return call;
}

Call timingCall(Input &in, Host &host, Procedure procedure) {
    Call call;
    call.procedure = procedure;
    const std::vector<double> table = interactionTable(in, host);
    call.inputs = {table, {in.integerLike(su55if::stageTable.stageCount)}, {in.time()}};
    scalarOutputs(call, 3);
    frameOptions(in, call);
    return call;
}

Call actionCall(Input &in, Host &host, Procedure procedure) {
    Call call;
    call.procedure = procedure;
    call.inputs = {{in.flag() ? host.lastActionCode : in.integerLike(2)}};
    scalarOutputs(call, procedure == Procedure::ACTYP ? 4 : 3);
    frameOptions(in, call);
    return call;
}

Call stepCall(Input &in, Host &host, std::size_t instance) {
    Call call;
    call.procedure = Procedure::REPTIM;
    std::vector<double> &workspace = host.workspaces[instance];
    switch (in.byte() % 8U) {
        case 0:
            workspace.assign(5, 0.0);
            break;
        case 1: {  // a workspace the procedure did not write itself
            static const double kFlags[] = {0.0, 1.0, 0.5, 0.51, kNaN, -1.0, 2.0};
            workspace = {in.time(), in.time(), in.time(), kFlags[in.byte() % 7U], kFlags[in.byte() % 7U]};
            break;
        }
        default:
            break;
    }
    if (workspace.size() < 5) {
        workspace.assign(5, 0.0);
    }
    call.workspace = workspace;
    call.workspace.resize(5 + in.byte() % 3U, 42.0);  // a host may keep more than five
    host.clock += 1.0;
    static const double kSignal[] = {1.0, 1.0, 0.0, -1.0, kNaN, -0.0, 1e-300};
    call.inputs = {{in.byte() % 8U == 0 ? in.real() : kSignal[in.byte() % 7U]},
                   {in.byte() % 8U == 0 ? in.real() : host.clock}};
    scalarOutputs(call, 1);
    frameOptions(in, call);
    return call;
}

Call switchCall(Input &in) {
    Call call;
    call.procedure = Procedure::PFNRSWTCH;
    call.inputs = {{in.integerLike(5)}, {in.integerLike(5)}, {in.byte() % 2U == 0 ? in.real() : in.integerLike(1) - 0.5}};
    scalarOutputs(call, 1);
    frameOptions(in, call);
    return call;
}

void performChecked(const Call &call, Host &host) {
    ++context.call;
    const Outcome outcome = perform(call);
    checkProcedure(call, outcome);
    if ((call.procedure == Procedure::INTTIM || call.procedure == Procedure::IINTTIM) && outcome.outputs.size() == 3 &&
        outcome.wrote(3)) {
        host.lastActionCode = outcome.out(3);
    }
}

}  // namespace

void runSession(const std::uint8_t *data, std::size_t size, ProcedureSet allowed) {
    // A fresh table, as in a newly loaded library.
    su55if::stageTable = StageTable{};
    capture().take();
    context = Context{};

    Input in(data, size);
    Host host;
    pairedWorld(in, host, in.stageCount());
    if (in.flag()) {
        // Define the host's schedule first, as a run's first call would.
        Call call = defineCall(in, host);
        call.inputs[0] = host.schedule;
        call.inputs[1] = host.schedule;
        call.inputs[3] = {0.0};
        call.outputCounts[0] = host.schedule.size();
        call.outputSizes[0] = static_cast<int>(host.schedule.size());
        performChecked(call, host);
    }

    std::vector<Procedure> choices;
    for (int p = 0; p < kProcedureCount; ++p) {
        if ((allowed & (1U << static_cast<unsigned>(p))) != 0) {
            choices.push_back(static_cast<Procedure>(p));
        }
    }
    for (int calls = 0; calls < 256 && !in.exhausted(); ++calls) {
        const std::uint8_t pick = in.byte();
        if (pick == 0xFF) {  // now and then a new world: schedule and table
            pairedWorld(in, host, in.stageCount());
            continue;
        }
        const Procedure procedure = choices[pick % choices.size()];
        switch (procedure) {
            case Procedure::DEFST: {
                const Call call = defineCall(in, host);
                performChecked(call, host);
                break;
            }
            case Procedure::CHKST:
                performChecked(checkCall(in, host), host);
                break;
            case Procedure::UPSTGTIM:
                performChecked(updateCall(in, host), host);
                break;
            case Procedure::INTTIM:
            case Procedure::IINTTIM:
                performChecked(timingCall(in, host, procedure), host);
                break;
            case Procedure::ACTYP:
            case Procedure::IACTYP:
                performChecked(actionCall(in, host, procedure), host);
                break;
            case Procedure::REPTIM: {
                const std::size_t instance = in.byte() % 2U;
                const Call call = stepCall(in, host, instance);
                ++context.call;
                const Outcome outcome = perform(call);
                checkProcedure(call, outcome);
                host.workspaces[instance].assign(outcome.workspace.begin(), outcome.workspace.begin() + 5);
                break;
            }
            case Procedure::PFNRSWTCH:
                performChecked(switchCall(in), host);
                break;
        }
    }
}

}  // namespace su55if::fuzz
