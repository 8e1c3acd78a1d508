// Drives the library as a simulator would: defines the stage schedule at
// time 0, checks the interaction table, then steps time and asks the library
// for the timing of the stage in force and for its indicators.
#pragma once

#include <cstdio>
#include <vector>

#include "cycle_file.h"
#include "library.h"

namespace su55if::host {

// The schedule as SU55IF_DEFST reports it after the definition.
struct Schedule {
    std::vector<double> durations;  // output 1, one per stage
    double cycleDuration = 0.0;     // output 5
};

// One sample of the timeline.
struct TimelineRow {
    double time = 0.0;
    int stage = 0;
    double elapsed = 0.0;        // SU55IF_DEFST output 4, measured from the stage's start
    double delayForCode2 = 0.0;  // SU55IF_INTTIM outputs 1 to 3
    double delayForCode1 = 0.0;
    double actionCode = 0.0;
    std::vector<double> flags;   // SU55IF_ACTYP outputs 1 to 4 (SU55IF_IACTYP: 1 to 3)
};

struct RunSettings {
    double stopTime = 0.0;
    double outputInterval = 0.0;
};

// Time steps a run may take; a run holds its whole timeline in memory.
inline constexpr double kMaxTimeSteps = 2.0e6;

class Simulator {
public:
    // twin: SU55IF_IINTTIM and SU55IF_IACTYP instead of SU55IF_INTTIM and
    // SU55IF_ACTYP. callLog: where --log-calls writes, or null.
    Simulator(const Library &library, const Cycle &cycle, bool twin, std::FILE *callLog);

    // SU55IF_DEFST at time 0. False when the library stopped the run
    // (status 4); its diagnostic is then on standard output.
    bool define();
    const Schedule &schedule() const { return schedule_; }

    // The interaction timing at time 0 for every stage, which makes the
    // library check the interaction table. False on status 4.
    bool checkInteractions();

    // Two cycles, sampled at 1/20 of the shortest stage of positive duration.
    RunSettings defaultSettings() const;

    // Steps time from 0 to stopTime. Returns false, with rows cut short, when
    // the library stopped the run.
    bool run(const RunSettings &settings, std::vector<TimelineRow> &rows);

    bool twin() const { return twin_; }
    const char *timingName() const { return twin_ ? "SU55IF_IINTTIM" : "SU55IF_INTTIM"; }
    const char *decodingName() const { return twin_ ? "SU55IF_IACTYP" : "SU55IF_ACTYP"; }

private:
    const Cycle &cycle_;
    bool twin_;
    Instance defineStages_;
    Instance timing_;
    Instance decoding_;
    Schedule schedule_;
    // The stage in force and the time at which it began, as the model that
    // calls SU55IF_DEFST keeps them.
    int stage_ = 1;
    double stageStart_ = 0.0;

    bool callDefineStages(double time);
    bool advanceToStageInForce(double time);
    bool callTiming(int stage, double time);
};

}  // namespace su55if::host
