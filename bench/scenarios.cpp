#include "scenarios.h"

#include <dlfcn.h>

#include <cstring>

namespace su55if::bench {

int Frame::input(const std::vector<double> &values) {
    const int offset = static_cast<int>(inputs.size()) + 1;
    inputs.insert(inputs.end(), values.begin(), values.end());
    inputSizes.push_back(static_cast<int>(values.size()));
    inputOffsets.push_back(offset);
    return offset;
}

int Frame::output(std::size_t count) {
    const int offset = static_cast<int>(outputs.size()) + 1;
    outputs.insert(outputs.end(), count, 0.0);
    outputSizes.push_back(static_cast<int>(count));
    outputOffsets.push_back(offset);
    return offset;
}

void Frame::derivativeBlock(int count1, int count2) {
    derivativeCount1 = count1;
    derivativeCount2 = count2;
    derivatives.assign(static_cast<std::size_t>(count1) * static_cast<std::size_t>(count2), 1.0);
}

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
    Frame frame;
    const std::vector<double> durations = pairedDurations();
    frame.input(durations);
    frame.input(durations);
    frame.input(0.0);
    frame.input(time);
    frame.input(50.0);
    frame.input(0.0);
    frame.output(kStages);
    for (int k = 2; k <= 5; ++k) {
        frame.output();
    }
    return frame;
}

// Stores the 100-stage schedule at the initial point.
void defineSchedule(const Library &library) {
    Frame frame = scheduleFrame(0.0);
    frame.call(library.procedure("SU55IF_DEFST"));
}

void prepareSwitch(Frame &frame, const Library & /*library*/) {
    frame.input(5.0);
    frame.input(4.0);
    frame.input(1.0);
    frame.output();
}

void prepareActionType(Frame &frame, const Library & /*library*/) {
    frame.input(0.0);
    for (int k = 1; k <= 4; ++k) {
        frame.output();
    }
}

void prepareShortActionType(Frame &frame, const Library & /*library*/) {
    frame.input(0.0);
    for (int k = 1; k <= 3; ++k) {
        frame.output();
    }
}

// Codes -2, -1, 0, 1, 2, -2, ...
void cycleCodes(Frame &frame, std::int64_t call) {
    frame.inputValue(1) = static_cast<double>(call % 5 - 2);
}

void prepareStepDuration(Frame &frame, const Library & /*library*/) {
    frame.input(1.0);
    frame.input(0.0);
    frame.output();
}

// A running period: the signal stays positive while time advances.
void advanceTime(Frame &frame, std::int64_t call) { frame.inputValue(2) = static_cast<double>(call); }

void prepareSteadySchedule(Frame &frame, const Library &library) {
    defineSchedule(library);
    frame = scheduleFrame(10.0);
}

// An INTTIM frame on the 100-stage schedule: the table, stage 1, the time.
void prepareTiming(Frame &frame, const Library &library, const std::vector<double> &table, double time) {
    defineSchedule(library);
    frame.input(table);
    frame.input(1.0);
    frame.input(time);
    for (int k = 1; k <= 3; ++k) {
        frame.output();
    }
}

void prepareRunningTiming(Frame &frame, const Library &library) {
    std::vector<double> table(kStages, 0.0);
    table.front() = 100.0;
    table.back() = 1.0;
    prepareTiming(frame, library, table, 1000.0);
}

void prepareInitialTiming(Frame &frame, const Library &library) { prepareTiming(frame, library, pairedTable(), 0.0); }

void prepareUnchangedCheck(Frame &frame, const Library &library) {
    defineSchedule(library);
    frame.input(pairedDurations());
    frame.input(1.0);
    frame.output();
}

void prepareSingleUpdate(Frame &frame, const Library &library) {
    defineSchedule(library);
    std::vector<double> table = pairedTable();
    table[49] = 0.0;
    frame.input(1.0);
    frame.input(50.0);
    frame.input(17.0);
    frame.input(table);
    frame.output();
}

void prepareDerivatives(Frame &frame, const Library &library) {
    prepareSwitch(frame, library);
    frame.callMode = 4.0;
    frame.derivativeBlock(100, 100);
}

// Call mode 1 (neither outputs nor derivatives) on a schedule without stages:
// the call locates its arguments and takes the stage table, and does nothing
// else. What such a call costs beyond an empty procedure is the frame and the
// table's lock.
void prepareIdle(Frame &frame, const Library &library, const char *symbol) {
    Frame empty = scheduleFrame(0.0);
    empty.inputSizes[0] = 0;
    empty.call(library.procedure("SU55IF_DEFST"));
    if (std::strcmp(symbol, "SU55IF_DEFST") == 0) {
        frame = scheduleFrame(10.0);
        frame.inputSizes[0] = 0;
    } else {
        // Enough arguments for any of the other four, all scalars.
        for (int k = 1; k <= 4; ++k) {
            frame.input(10.0);
            frame.output();
        }
    }
    frame.callMode = 1.0;
}
void prepareIdleDefine(Frame &frame, const Library &library) { prepareIdle(frame, library, "SU55IF_DEFST"); }
void prepareIdleCheck(Frame &frame, const Library &library) { prepareIdle(frame, library, "SU55IF_CHKST"); }
void prepareIdleUpdate(Frame &frame, const Library &library) { prepareIdle(frame, library, "SU55IF_UPSTGTIM"); }
void prepareIdleTiming(Frame &frame, const Library &library) { prepareIdle(frame, library, "SU55IF_INTTIM"); }

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
        {"timing_initial_50_pairs", "SU55IF_INTTIM", 10000, prepareInitialTiming, nullptr},
        {"check_unchanged_100", "SU55IF_CHKST", 800, prepareUnchangedCheck, nullptr},
        {"update_single_100", "SU55IF_UPSTGTIM", 650, prepareSingleUpdate, nullptr},
        {"idle_define", "SU55IF_DEFST", 200, prepareIdleDefine, nullptr},
        {"idle_check", "SU55IF_CHKST", 90, prepareIdleCheck, nullptr},
        {"idle_update", "SU55IF_UPSTGTIM", 90, prepareIdleUpdate, nullptr},
        {"idle_timing", "SU55IF_INTTIM", 280, prepareIdleTiming, nullptr},
        {"idle_timing_ignoring", "SU55IF_IINTTIM", 280, prepareIdleTiming, nullptr},
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
