// Input and the call: the fuzzer's bytes read as the values a simulator
// passes (Input), and one call of a procedure as a host lays it out (perform):
// the frame in argument order or reversed with gap cells between the
// arguments, guard cells around the other pointers, the records captured,
// and what must hold after a call of any procedure.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <span>

#include "callkit/procedures.h"
#include "harness/guarded_call.h"
#include "library_model_internal.h"

namespace su55if::fuzz {

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

}  // namespace

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

namespace {

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

}  // namespace

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

}  // namespace su55if::fuzz
