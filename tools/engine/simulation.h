// Drives the library as a simulator would: defines the stage schedule at
// time 0, checks the interaction table, then steps time and, at every
// sample, calls the procedures a model wires together: the duration update
// for events, the change check, the stage definition for the stage in force,
// the interaction timing and the decoding of its action code, the step
// recorder and the switch. Samples go to a sink as they are computed; the
// run keeps no timeline, and reads input and events files as it goes, each
// row when its time comes.
#pragma once

#include <array>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "engine/cycle.h"
#include "engine/error.h"
#include "engine/timed_rows.h"
#include "engine/block.h"
#include "engine/stage_clock.h"

namespace su55if::engine {

// The schedule as SU55IF_DEFST reports it after the definition.
struct Schedule {
    std::vector<double> durations;  // stageDurations, one per stage
    double cycleDuration = 0.0;
};

// What a run takes besides the cycle: timed inputs and events, each
// optional, their headers read (openInputFile, openEventsFile).
struct RunInputs {
    std::unique_ptr<TimedRows> inputs;
    std::unique_ptr<TimedRows> events;
};

// An event applied at a sample: the stage and duration of its row, and what
// SU55IF_UPSTGTIM returned for it (0 nothing changed, 1 the stage set, 2
// the stage and its partner set).
struct EventUpdate {
    int stage = 0;
    double duration = 0.0;
    double result = 0.0;
};

// One sample of the timeline.
struct TimelineRow {
    double time = 0.0;
    int stage = 0;
    double elapsed = 0.0;        // SU55IF_DEFST elapsedTime, measured from the stage's start
    double delayForCode2 = 0.0;  // interaction timing outputs
    double delayForCode1 = 0.0;
    double actionCode = 0.0;
    std::array<double, 4> flags{};  // decoding outputs; flagCount of them
    int flagCount = 0;
    double stageDuration = 0.0;
    double durationsChanged = 0.0;
    double updateResult = 0.0;   // with several events at the sample, the result that says most
    double recordedDuration = 0.0;
    double switchSignal = 0.0;
    // The input file's values in force: hold, check, signal, value, limit,
    // enable (0 where the file has no such column).
    std::array<double, 6> inputs{};
    // The events applied at this sample, each with its own result; null when
    // none was. Valid until the next sample is computed.
    const std::vector<EventUpdate> *updates = nullptr;
};

// The input file's columns that drive the procedures, in TimelineRow::inputs
// order.
inline constexpr std::array<const char *, 6> kDrivingInputs{"hold", "check", "signal", "value", "limit", "enable"};

// An output beyond the interaction timing that a run reports, because its
// inputs drive the procedure that computes it.
struct ExtraOutput {
    const char *name;              // the column's name
    double TimelineRow::*value;
};

// Two linked stages whose durations in force stopped being equal during a
// run: the library checks linked durations only when a run starts, so this
// run goes on, but one that starts with these durations is stopped.
struct LinkDrift {
    double time = 0.0;
    int stage = 0;
    int partner = 0;
    double stageDuration = 0.0;
    double partnerDuration = 0.0;
};

struct RunSettings {
    double stopTime = 0.0;
    double outputInterval = 0.0;
    std::uint64_t lastStep = 0;  // the samples are at step * outputInterval, step = 0 .. lastStep
    // When not 0, the run ends instead with the last sample not after the
    // end of this cycle, as the durations in force place it when the run
    // gets there; stopTime and lastStep are then where the durations of
    // time 0 place that end.
    std::uint64_t cycles = 0;
};

// Where a run's samples go, as they are computed.
class SampleSink {
public:
    virtual ~SampleSink() = default;
    // The run's samples are settled and the first is about to come.
    virtual void started(const RunSettings & /*settings*/) {}
    virtual void write(const TimelineRow &row) = 0;
    // The durations in force changed at `time` (and at time 0: the first);
    // cycleDuration is the one SU55IF_DEFST reported for them.
    virtual void scheduleChanged(double /*time*/, const std::vector<double> & /*durations*/,
                                 double /*cycleDuration*/) {}
    // A run by cycles: the durations in force now place the end of its last
    // cycle at `end` (RunSettings::stopTime is where those of time 0 did).
    virtual void endMoved(double /*end*/) {}
    // Two linked stages stopped lasting the same (at most once per pair
    // until they last the same again).
    virtual void linkDrifted(const LinkDrift & /*drift*/) {}
    // The run ended, or stopped on a fault; nothing more follows.
    virtual void ended() {}
};


// The largest lastStep a run takes: beyond it, successive sample times
// would no longer be distinct.
inline constexpr std::uint64_t kMaxLastStep = std::uint64_t{1} << 52;

// The samples of a run from 0 to stopTime every outputInterval: never one
// after the stop time. `given` names where the two values came from, for
// the message when there would be too many. Throws Error.
RunSettings sampling(double stopTime, double outputInterval, const std::string &given);

class Simulator {
public:
    // twin: SU55IF_IINTTIM and SU55IF_IACTYP instead of SU55IF_INTTIM and
    // SU55IF_ACTYP. callLog: where --log-calls writes, or null. Reads the
    // first row of each file.
    Simulator(const callkit::Binding &library, const Cycle &cycle, RunInputs inputs, bool twin, std::FILE *callLog);

    // SU55IF_DEFST at time 0, after the input rows at time 0 or before were
    // taken: their durations are the requested ones, so that they are in
    // force from the first sample. False when the library stopped the run
    // (status 4); its records are then in the library's record buffer.
    // Throws Error when those durations make no cycle, naming the row.
    bool define();
    const Schedule &schedule() const { return schedule_; }

    // The interaction timing at time 0 for every stage, which makes the
    // library check the interaction table. False on status 4.
    bool checkInteractions();

    // Two cycles, sampled at 1/20 of the shortest stage of positive
    // duration; none when that cannot be made (a cycle of 0 or infinite
    // duration); the caller says why.
    std::optional<double> defaultStopTime() const;
    std::optional<double> defaultOutputInterval() const;

    // Steps time from 0 to settings.lastStep * outputInterval (with
    // settings.cycles, to the end of that cycle), once, after define(). Returns false when the library stopped the run. Throws
    // Error for a fault in a row read on the way (naming its file, line
    // and column) and for durations in force that no cycle can be made of
    // (naming the input row or event that set them, and the time).
    bool run(const RunSettings &settings, SampleSink &sink);

    // In column order: stageDuration (SU55IF_DEFST, with any input or
    // event), durationsChanged (SU55IF_CHKST, with a `check` column),
    // updateResult (SU55IF_UPSTGTIM, with events), recordedDuration
    // (SU55IF_REPTIM, with a `signal` column), switchSignal
    // (SU55IF_PFNRSWTCH, with a value, limit or enable column).
    const std::vector<ExtraOutput> &extraOutputs() const { return extras_; }
    int flagCount() const { return twin_ ? 3 : 4; }
    // The indices into TimelineRow::inputs of the driving inputs that the
    // input file has, in order.
    std::vector<std::size_t> drivingInputs() const;
    bool twin() const { return twin_; }
    const char *timingName() const { return twin_ ? "SU55IF_IINTTIM" : "SU55IF_INTTIM"; }
    const char *decodingName() const { return twin_ ? "SU55IF_IACTYP" : "SU55IF_ACTYP"; }

private:
    struct InputColumns {
        int hold = -1, check = -1, signal = -1, value = -1, limit = -1, enable = -1;
        std::vector<int> durations;  // per stage: column index or -1
    };

    const Cycle &cycle_;
    bool twin_;
    // Each file holds the row read last, waiting for its time while
    // inputRead_ (eventRead_) is true.
    std::unique_ptr<TimedRows> inputs_;
    std::unique_ptr<TimedRows> events_;
    bool inputRead_ = false;
    bool eventRead_ = false;
    InputColumns columns_;
    std::size_t eventStage_ = 0;     // the events file's columns
    std::size_t eventDuration_ = 0;
    std::vector<EventUpdate> updates_;  // the events applied at the sample computed last
    std::vector<ExtraOutput> extras_;

    Block defineStages_;
    Block timing_;
    Block decoding_;
    std::optional<Block> checkStages_;
    std::optional<Block> updateDuration_;
    std::optional<Block> recordStep_;
    std::optional<Block> switchSignal_;
    Schedule schedule_;
    // The cells used at every sample, looked up once.
    struct Cells {
        double *time, *stage, *reference;        // SU55IF_DEFST inputs
        const double *durations, *elapsed, *stageDuration, *cycleDuration;
        double *timingStage, *timingTime;        // interaction timing inputs
        const double *delayForCode2, *delayForCode1, *actionCode;
        double *code;                            // decoding input
        std::array<const double *, 4> flags;     // decoding outputs
    } cells_{};

    // The durations in force: the cycle's, then as input rows and events set
    // them; SU55IF_DEFST takes them as its second vector unless the change
    // check carries them (a `check` column), when that vector is the table as
    // the last calls left it.
    std::vector<double> inForce_;
    std::vector<double> table_;
    std::vector<double> scheduled_;  // the durations the stage clock follows
    // The input row or event that changed the durations in force last; no
    // file while they are the cycle's.
    struct Origin {
        const TimedRows *file = nullptr;
        std::uint64_t line = 0;
    } durationsSetBy_;
    StageClock clock_;
    std::array<double, 6> drivers_{};  // the driving inputs in force
    // The input file's column of each driving input, or -1.
    std::array<int, 6> drivingColumns() const {
        return {columns_.hold, columns_.check, columns_.signal, columns_.value, columns_.limit, columns_.enable};
    }
    std::uint64_t cycles_ = 0;  // RunSettings::cycles of the run
    std::vector<LinkedPair> linkedPairs_;
    std::vector<bool> drifted_;  // per linked pair: its durations differ now

    // Tells `sink` of the linked pairs whose durations have come to differ
    // (none when it is null), and notes which differ now.
    void reportDrifts(double time, SampleSink *sink);

    bool callDefineStages(double time, int stage, double reference);
    void startClock();
    [[noreturn]] void clockFault(double time, const Error &error) const;
    bool stageInForce(double time, SampleSink &sink);
    bool callTiming(int stage, double time);
    void takeInputRows(double time);
    void takeInputRow();
    bool applyEvents(double time, TimelineRow &row);
    bool step(double time, TimelineRow &row, SampleSink &sink);
    // Compares the end of cycle `cycles` with `time`, as the stage clock
    // places it now: below 0 when it ends before.
    int cycleEndComparedTo(std::uint64_t cycles, double time) const;
};

}  // namespace su55if::engine
