#include "scenarios.h"

namespace su55if_bench {

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
void defineSchedule() {
    Frame frame = scheduleFrame(0.0);
    frame.call(SU55IF_DEFST);
}

void prepareSwitch(Frame &frame) {
    frame.input(5.0);
    frame.input(4.0);
    frame.input(1.0);
    frame.output();
}

void prepareActionType(Frame &frame) {
    frame.input(0.0);
    for (int k = 1; k <= 4; ++k) {
        frame.output();
    }
}

void prepareShortActionType(Frame &frame) {
    frame.input(0.0);
    for (int k = 1; k <= 3; ++k) {
        frame.output();
    }
}

// Codes -2, -1, 0, 1, 2, -2, ...
void cycleCodes(Frame &frame, std::int64_t call) {
    frame.inputValue(1) = static_cast<double>(call % 5 - 2);
}

void prepareStepDuration(Frame &frame) {
    frame.input(1.0);
    frame.input(0.0);
    frame.output();
}

// A running period: the signal stays positive while time advances.
void advanceTime(Frame &frame, std::int64_t call) { frame.inputValue(2) = static_cast<double>(call); }

void prepareSteadySchedule(Frame &frame) {
    defineSchedule();
    frame = scheduleFrame(10.0);
}

// An INTTIM frame on the 100-stage schedule: the table, stage 1, the time.
void prepareTiming(Frame &frame, const std::vector<double> &table, double time) {
    defineSchedule();
    frame.input(table);
    frame.input(1.0);
    frame.input(time);
    for (int k = 1; k <= 3; ++k) {
        frame.output();
    }
}

void prepareRunningTiming(Frame &frame) {
    std::vector<double> table(kStages, 0.0);
    table.front() = 100.0;
    table.back() = 1.0;
    prepareTiming(frame, table, 1000.0);
}

void prepareInitialTiming(Frame &frame) { prepareTiming(frame, pairedTable(), 0.0); }

void prepareUnchangedCheck(Frame &frame) {
    defineSchedule();
    frame.input(pairedDurations());
    frame.input(1.0);
    frame.output();
}

void prepareSingleUpdate(Frame &frame) {
    defineSchedule();
    std::vector<double> table = pairedTable();
    table[49] = 0.0;
    frame.input(1.0);
    frame.input(50.0);
    frame.input(17.0);
    frame.input(table);
    frame.output();
}

void prepareDerivatives(Frame &frame) {
    prepareSwitch(frame);
    frame.callMode = 4.0;
    frame.derivativeBlock(100, 100);
}

}  // namespace

const std::vector<Scenario> &scenarios() {
    static const std::vector<Scenario> all{
        {"switch_signal", "SU55IF_PFNRSWTCH", SU55IF_PFNRSWTCH, 30, prepareSwitch, nullptr},
        {"action_type", "SU55IF_ACTYP", SU55IF_ACTYP, 40, prepareActionType, cycleCodes},
        {"action_type_short", "SU55IF_IACTYP", SU55IF_IACTYP, 40, prepareShortActionType, cycleCodes},
        {"step_duration", "SU55IF_REPTIM", SU55IF_REPTIM, 40, prepareStepDuration, advanceTime},
        {"define_steady_100", "SU55IF_DEFST", SU55IF_DEFST, 800, prepareSteadySchedule, nullptr},
        {"timing_running_1_to_100", "SU55IF_INTTIM", SU55IF_INTTIM, 300, prepareRunningTiming, nullptr},
        {"timing_initial_50_pairs", "SU55IF_INTTIM", SU55IF_INTTIM, 3000, prepareInitialTiming, nullptr},
        {"check_unchanged_100", "SU55IF_CHKST", SU55IF_CHKST, 400, prepareUnchangedCheck, nullptr},
        {"update_single_100", "SU55IF_UPSTGTIM", SU55IF_UPSTGTIM, 300, prepareSingleUpdate, nullptr},
        {"zero_derivatives_10000", "SU55IF_PFNRSWTCH", SU55IF_PFNRSWTCH, 4000, prepareDerivatives, nullptr},
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

}  // namespace su55if_bench
