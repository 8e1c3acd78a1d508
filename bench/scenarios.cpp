#include "scenarios.h"

#include <dlfcn.h>

#include <cstring>

namespace su55if::bench {

Library::Library(const char *path) : handle_(dlopen(path, RTLD_NOW | RTLD_LOCAL)), linked_(false) {}

su55if_procedure *Library::procedure(const char *symbol) const {
    if (!linked_) {
        return handle_ == nullptr ? nullptr : reinterpret_cast<su55if_procedure *>(dlsym(handle_, symbol));
    }
    static const struct {
        const char *symbol;
        su55if_procedure *procedure;
    } linked[] = {
        {"SU55IF_DEFST", SU55IF_DEFST},   {"SU55IF_CHKST", SU55IF_CHKST},
        {"SU55IF_UPSTGTIM", SU55IF_UPSTGTIM}, {"SU55IF_INTTIM", SU55IF_INTTIM},
        {"SU55IF_IINTTIM", SU55IF_IINTTIM}, {"SU55IF_ACTYP", SU55IF_ACTYP},
        {"SU55IF_IACTYP", SU55IF_IACTYP}, {"SU55IF_REPTIM", SU55IF_REPTIM},
        {"SU55IF_PFNRSWTCH", SU55IF_PFNRSWTCH},
    };
    for (const auto &entry : linked) {
        if (std::strcmp(entry.symbol, symbol) == 0) {
            return entry.procedure;
        }
    }
    return nullptr;
}

namespace {

constexpr int kStages = 100;

// Stage k lasts 5 + 0.25 * ((k - 1) / 2): the two stages of every pair
// (1, 2), (3, 4), ... last equally long, as linked stages must.
std::vector<double> pairedDurations() {
    std::vector<double> durations;
    for (int k = 1; k <= kStages; ++k) {
        durations.push_back(5.0 + 0.25 * static_cast<double>((k - 1) / 2));
    }
    return durations;
}

// Every stage linked to its pair partner: (2, 1, 4, 3, ...), the second of
// each pair with a negative link.
std::vector<double> pairedTable() {
    std::vector<double> table;
    for (int k = 1; k <= kStages; ++k) {
        table.push_back(k % 2 == 1 ? static_cast<double>(k + 1) : -static_cast<double>(k - 1));
    }
    return table;
}

// A DEFST frame for the 100-stage schedule: both vectors, hold 0, the given
// time, stage 50, reference time 0; all 100 durations reported.
Frame scheduleFrame(double time) {
    Frame frame("SU55IF_DEFST", {{"requestedDurations", kStages}, {"stageDurations", kStages}});
    const std::vector<double> durations = pairedDurations();
    frame.set("requestedDurations", durations);
    frame.set("currentDurations", durations);
    frame.set("currentTime", time);
    frame.set("stageNumber", 50.0);
    return frame;
}

// Stores the 100-stage schedule at the initial point.
void defineSchedule(const Library &library) { scheduleFrame(0.0).call(library.procedure("SU55IF_DEFST")); }

Frame prepareSwitch(const Library & /*library*/) {
    Frame frame("SU55IF_PFNRSWTCH");
    frame.set("switchLimit", 5.0);
    frame.set("switchValue", 4.0);
    frame.set("switchEnable", 1.0);
    return frame;
}

Frame prepareActionType(const Library & /*library*/) { return Frame("SU55IF_ACTYP"); }

Frame prepareShortActionType(const Library & /*library*/) { return Frame("SU55IF_IACTYP"); }

// Codes -2, -1, 0, 1, 2, -2, ...
void cycleCodes(Frame &frame, std::int64_t call) { frame.input(1)[0] = static_cast<double>(call % 5 - 2); }

Frame prepareStepDuration(const Library & /*library*/) {
    Frame frame("SU55IF_REPTIM");
    frame.set("signalValue", 1.0);
    return frame;
}

// A running period: the signal stays positive while time advances.
void advanceTime(Frame &frame, std::int64_t call) { frame.input(2)[0] = static_cast<double>(call); }

Frame prepareSteadySchedule(const Library &library) {
    defineSchedule(library);
    return scheduleFrame(10.0);
}

// An INTTIM frame on the 100-stage schedule: the table, stage 1, the time.
Frame prepareTiming(const Library &library, const std::vector<double> &table, double time) {
    defineSchedule(library);
    Frame frame("SU55IF_INTTIM", {{"interactionTable", static_cast<int>(table.size())}});
    frame.set("interactionTable", table);
    frame.set("stageNumber", 1.0);
    frame.set("currentTime", time);
    return frame;
}

Frame prepareRunningTiming(const Library &library) {
    std::vector<double> table(kStages, 0.0);
    table.front() = 100.0;
    table.back() = 1.0;
    return prepareTiming(library, table, 1000.0);
}

Frame prepareInitialTiming(const Library &library) { return prepareTiming(library, pairedTable(), 0.0); }

Frame prepareUnchangedCheck(const Library &library) {
    defineSchedule(library);
    Frame frame("SU55IF_CHKST", {{"currentDurations", kStages}});
    frame.set("currentDurations", pairedDurations());
    frame.set("checkSwitch", 1.0);
    return frame;
}

Frame prepareSingleUpdate(const Library &library) {
    defineSchedule(library);
    std::vector<double> table = pairedTable();
    table[49] = 0.0;
    Frame frame("SU55IF_UPSTGTIM", {{"interactionTable", kStages}});
    frame.set("updateSwitch", 1.0);
    frame.set("stageNumber", 50.0);
    frame.set("newDuration", 17.0);
    frame.set("interactionTable", table);
    return frame;
}

Frame prepareDerivatives(const Library &library) {
    Frame frame = prepareSwitch(library);
    frame.callMode = 4.0;
    frame.derivativeBlock(100, 100, 1.0);
    return frame;
}

// Call mode 1 (neither outputs nor derivatives) on a schedule without stages:
// the call locates its arguments and takes the stage table, and does nothing
// else. What such a call costs beyond an empty procedure is the frame and the
// table's lock.
Frame idle(const Library &library, Frame frame) {
    Frame("SU55IF_DEFST", {{"requestedDurations", 0}, {"stageDurations", 0}})
        .call(library.procedure("SU55IF_DEFST"));
    frame.callMode = 1.0;
    return frame;
}
Frame prepareIdleDefine(const Library &library) {
    return idle(library, Frame("SU55IF_DEFST", {{"requestedDurations", 0}, {"stageDurations", 0}}));
}
Frame prepareIdleCheck(const Library &library) {
    return idle(library, Frame("SU55IF_CHKST", {{"currentDurations", 0}}));
}
Frame prepareIdleUpdate(const Library &library) {
    return idle(library, Frame("SU55IF_UPSTGTIM", {{"interactionTable", 1}}));
}
Frame prepareIdleTiming(const Library &library) {
    return idle(library, Frame("SU55IF_INTTIM", {{"interactionTable", 1}}));
}
Frame prepareIdleTimingIgnoring(const Library &library) {
    return idle(library, Frame("SU55IF_IINTTIM", {{"interactionTable", 1}}));
}

}  // namespace

// Budgets are about twice the counts of the plain code (bench/README.md): a
// net for an accidental loss of an order of magnitude, not for compiler noise.
const std::vector<Scenario> &scenarios() {
    static const std::vector<Scenario> all{
        {"switch_signal", "SU55IF_PFNRSWTCH", 70, prepareSwitch, nullptr},
        {"action_type", "SU55IF_ACTYP", 100, prepareActionType, cycleCodes},
        {"action_type_short", "SU55IF_IACTYP", 100, prepareShortActionType, cycleCodes},
        {"step_duration", "SU55IF_REPTIM", 90, prepareStepDuration, advanceTime},
        {"define_steady_100", "SU55IF_DEFST", 1600, prepareSteadySchedule, nullptr},
        {"timing_running_1_to_100", "SU55IF_INTTIM", 900, prepareRunningTiming, nullptr},
        {"timing_initial_50_pairs", "SU55IF_INTTIM", 9000, prepareInitialTiming, nullptr},
        {"check_unchanged_100", "SU55IF_CHKST", 800, prepareUnchangedCheck, nullptr},
        {"update_single_100", "SU55IF_UPSTGTIM", 650, prepareSingleUpdate, nullptr},
        {"idle_define", "SU55IF_DEFST", 170, prepareIdleDefine, nullptr},
        {"idle_check", "SU55IF_CHKST", 90, prepareIdleCheck, nullptr},
        {"idle_update", "SU55IF_UPSTGTIM", 90, prepareIdleUpdate, nullptr},
        {"idle_timing", "SU55IF_INTTIM", 280, prepareIdleTiming, nullptr},
        {"idle_timing_ignoring", "SU55IF_IINTTIM", 280, prepareIdleTimingIgnoring, nullptr},
        {"zero_derivatives_10000", "SU55IF_PFNRSWTCH", 130, prepareDerivatives, nullptr},
    };
    return all;
}

const Scenario *findScenario(const std::string &name) {
    for (const Scenario &scenario : scenarios()) {
        if (name == scenario.name) {
            return &scenario;
        }
    }
    return nullptr;
}

}  // namespace su55if::bench
