// What each procedure must do, from its rules: the checks of one call's
// outcome against an independent model of what the procedure computes (the
// stage table it defines, checks and updates, the interaction timing, the
// action type, the step duration and the switch signal), and what holds for
// every procedure (checkProcedure). They are written in the expectations of
// library_model_reference.cpp.
#include <algorithm>
#include <cmath>

#include "library_model_internal.h"

namespace su55if::fuzz {

// ---------------------------------------------------------------------------
// What each procedure must do, from its rules.

namespace {

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

}  // namespace

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

}  // namespace su55if::fuzz
