#include "engine/simulation.h"

#include <fmt/format.h>

#include <algorithm>
#include <cmath>
#include <utility>

#include "callkit/table_entry.h"
#include "engine/error.h"
#include "engine/text.h"

namespace su55if::engine {

namespace {

std::string durationName(int stage) { return fmt::format("duration{}", stage); }

}  // namespace

RunSettings sampling(double stopTime, double outputInterval, const std::string &given) {
    const double ratio = stopTime / outputInterval;
    if (!(ratio < static_cast<double>(kMaxLastStep))) {
        throw Error(fmt::format("{} give more than {} samples, the most a run takes: raise the output interval "
                                    "or lower the stop time",
                                    given, kMaxLastStep + 1));
    }
    RunSettings settings{stopTime, outputInterval, static_cast<std::uint64_t>(std::floor(ratio))};
    // The division rounds: settle on the last step whose time, as the run
    // computes it, is not after the stop time.
    while (settings.lastStep > 0 && static_cast<double>(settings.lastStep) * outputInterval > stopTime) {
        --settings.lastStep;
    }
    while (settings.lastStep < kMaxLastStep &&
           static_cast<double>(settings.lastStep + 1) * outputInterval <= stopTime) {
        ++settings.lastStep;
    }
    return settings;
}

Simulator::Simulator(const callkit::Binding &library, const Cycle &cycle, RunInputs inputs, bool twin, std::FILE *callLog)
    : cycle_(cycle),
      twin_(twin),
      inputs_(std::move(inputs.inputs)),
      events_(std::move(inputs.events)),
      defineStages_(library, "SU55IF_DEFST", {{"requestedDurations", cycle.stageCount()},
                                              {"stageDurations", cycle.stageCount()}},
                    callLog),
      timing_(library, timingName(), {{"interactionTable", cycle.stageCount()}}, callLog),
      decoding_(library, decodingName(), {}, callLog) {
    const int count = cycle.stageCount();
    // The cycle's durations are in force until an input row or an event
    // changes them, and the hold switch 0 lets the library follow them.
    inForce_ = cycle.durations;
    defineStages_.set("currentDurations", cycle.durations);
    defineStages_.set("holdSwitch", 0.0);
    timing_.set("interactionTable", cycle.partners);
    cells_.time = defineStages_.input("currentTime");
    cells_.stage = defineStages_.input("stageNumber");
    cells_.reference = defineStages_.input("referenceTime");
    cells_.durations = defineStages_.output("stageDurations");
    cells_.elapsed = defineStages_.output("elapsedTime");
    cells_.stageDuration = defineStages_.output("stageDuration");
    cells_.cycleDuration = defineStages_.output("cycleDuration");
    cells_.timingStage = timing_.input("stageNumber");
    cells_.timingTime = timing_.input("currentTime");
    cells_.delayForCode2 = timing_.output("delayForCode2");
    cells_.delayForCode1 = timing_.output("delayForCode1");
    cells_.actionCode = timing_.output("actionCode");
    cells_.code = decoding_.input("actionCode");
    for (int k = 0; k < flagCount(); ++k) {
        cells_.flags[static_cast<std::size_t>(k)] = decoding_.output(k + 1);
    }

    if (inputs_) {
        const auto column = [&](std::string_view name) {
            const std::size_t index = inputs_->columnIndex(name);
            return index < inputs_->columns().size() ? static_cast<int>(index) : -1;
        };
        columns_.hold = column("hold");
        columns_.check = column("check");
        columns_.signal = column("signal");
        columns_.value = column("value");
        columns_.limit = column("limit");
        columns_.enable = column("enable");
        for (int stage = 1; stage <= count; ++stage) {
            columns_.durations.push_back(column(durationName(stage)));
        }
        inputRead_ = inputs_->next();
    }
    if (events_) {
        eventStage_ = events_->columnIndex("stage");
        eventDuration_ = events_->columnIndex("duration");
        eventRead_ = events_->next();
        updateDuration_.emplace(library, "SU55IF_UPSTGTIM",
                                std::initializer_list<procedures::Length>{{"interactionTable", count}}, callLog);
        updateDuration_->set("interactionTable", cycle.partners);
    }
    if (inputs_ || updateDuration_) {
        extras_.push_back({"stageDuration", &TimelineRow::stageDuration});
    }
    if (columns_.check >= 0) {
        extras_.push_back({"durationsChanged", &TimelineRow::durationsChanged});
        checkStages_.emplace(library, "SU55IF_CHKST",
                             std::initializer_list<procedures::Length>{{"currentDurations", count}}, callLog);
    }
    if (updateDuration_) {
        extras_.push_back({"updateResult", &TimelineRow::updateResult});
    }
    if (columns_.signal >= 0) {
        extras_.push_back({"recordedDuration", &TimelineRow::recordedDuration});
        recordStep_.emplace(library, "SU55IF_REPTIM", std::initializer_list<procedures::Length>{}, callLog);
    }
    if (columns_.value >= 0 || columns_.limit >= 0 || columns_.enable >= 0) {
        extras_.push_back({"switchSignal", &TimelineRow::switchSignal});
        switchSignal_.emplace(library, "SU55IF_PFNRSWTCH", std::initializer_list<procedures::Length>{}, callLog);
    }
}

bool Simulator::callDefineStages(double time, int stage, double reference) {
    *cells_.time = time;
    *cells_.stage = static_cast<double>(stage);
    *cells_.reference = reference;
    return defineStages_.call() != kStatusFatal;
}

// At time 0 SU55IF_DEFST follows the requested durations alone: those of
// the input rows due at time 0 are given as the requested ones, so that the
// rows hold from their time as every later row does.
bool Simulator::define() {
    takeInputRows(0.0);
    defineStages_.set("requestedDurations", inForce_);
    if (!callDefineStages(0.0, 1, 0.0)) {
        return false;
    }
    const double *durations = defineStages_.output("stageDurations");
    schedule_.durations.assign(durations, durations + cycle_.stageCount());
    schedule_.cycleDuration = defineStages_.value("cycleDuration");
    if (durationsSetBy_.file != nullptr) {
        startClock();  // durations no run can step through are the row's fault, not the cycle's
    }
    return true;
}

void Simulator::startClock() {
    try {
        clock_.reset(schedule_.durations, 1, {});
    } catch (const Error &error) {
        clockFault(0.0, error);
    }
}

// The stage clock cannot follow the durations in force: the message names
// the input row or event that set them (the cycle file while they are its
// own) and the time.
void Simulator::clockFault(double time, const Error &error) const {
    const std::string where = durationsSetBy_.file != nullptr
                                  ? fmt::format("{}:{}", printable(durationsSetBy_.file->name()), durationsSetBy_.line)
                                  : printable(cycle_.name);
    throw Error(fmt::format("{}: at time {}, {}", where, readable(time), error.what()));
}

bool Simulator::callTiming(int stage, double time) {
    *cells_.timingStage = static_cast<double>(stage);
    *cells_.timingTime = time;
    return timing_.call() != kStatusFatal;
}

bool Simulator::checkInteractions() {
    for (int stage = 1; stage <= cycle_.stageCount(); ++stage) {
        if (!callTiming(stage, 0.0)) {
            return false;
        }
    }
    return true;
}

std::optional<double> Simulator::defaultStopTime() const {
    const double stopTime = 2.0 * schedule_.cycleDuration;
    if (!(schedule_.cycleDuration > 0.0) || !std::isfinite(stopTime)) {
        return std::nullopt;
    }
    return stopTime;
}

std::optional<double> Simulator::defaultOutputInterval() const {
    double shortest = 0.0;
    for (double duration : schedule_.durations) {
        if (duration > 0.0 && (shortest == 0.0 || duration < shortest)) {
            shortest = duration;
        }
    }
    const double interval = shortest / 20.0;
    if (!(interval > 0.0) || !std::isfinite(interval)) {
        return std::nullopt;
    }
    return interval;
}

// Takes the input rows due by `time` in file order, reading the next row
// as each is taken; the first row not due stays read, waiting for its time.
void Simulator::takeInputRows(double time) {
    while (inputRead_ && inputs_->time() <= time) {
        takeInputRow();
        inputRead_ = inputs_->next();
    }
}

std::vector<std::size_t> Simulator::drivingInputs() const {
    const std::array<int, 6> columns = drivingColumns();
    std::vector<std::size_t> present;
    for (std::size_t k = 0; k < columns.size(); ++k) {
        if (columns[k] >= 0) {
            present.push_back(k);
        }
    }
    return present;
}

void Simulator::takeInputRow() {
    const auto valueOf = [&](int column) { return inputs_->value(static_cast<std::size_t>(column)); };
    const std::array<int, 6> columns = drivingColumns();
    for (std::size_t k = 0; k < columns.size(); ++k) {
        drivers_[k] = columns[k] >= 0 ? valueOf(columns[k]) : 0.0;
    }
    for (std::size_t k = 0; k < columns_.durations.size(); ++k) {
        if (columns_.durations[k] >= 0 && valueOf(columns_.durations[k]) != inForce_[k]) {
            inForce_[k] = valueOf(columns_.durations[k]);
            durationsSetBy_ = {inputs_.get(), inputs_->line()};
        }
    }
    if (columns_.hold >= 0) {
        defineStages_.set("holdSwitch", valueOf(columns_.hold));
    }
    if (columns_.check >= 0) {
        checkStages_->set("checkSwitch", valueOf(columns_.check));
    }
    if (columns_.signal >= 0) {
        recordStep_->set("signalValue", valueOf(columns_.signal));
    }
    if (switchSignal_) {
        switchSignal_->set("switchValue", columns_.value >= 0 ? valueOf(columns_.value) : 0.0);
        switchSignal_->set("switchLimit", columns_.limit >= 0 ? valueOf(columns_.limit) : 0.0);
        switchSignal_->set("switchEnable", columns_.enable >= 0 ? valueOf(columns_.enable) : 0.0);
    }
}

// Every event due by `time` goes to SU55IF_UPSTGTIM with the update switch
// on; without one, the procedure is called with the switch off, as a model
// calls it at every step.
bool Simulator::applyEvents(double time, TimelineRow &row) {
    Block &update = *updateDuration_;
    updates_.clear();
    row.updates = nullptr;
    while (eventRead_ && events_->time() <= time) {
        const double stage = events_->value(eventStage_);  // one of the cycle's, as the file was read
        const double duration = events_->value(eventDuration_);
        update.set("updateSwitch", 1.0);
        update.set("stageNumber", stage);
        update.set("newDuration", duration);
        if (update.call() == kStatusFatal) {
            return false;
        }
        const double result = update.value("updateResult");
        updates_.push_back({static_cast<int>(stage), duration, result});
        // The column keeps the result that says most: 2 (a pair set) over 1
        // (a stage set) over 0 (nothing changed).
        row.updateResult = updates_.size() == 1 ? result : std::max(row.updateResult, result);
        if (result > 0.0) {
            // The table now holds the new duration, for the stage and its
            // partner: so do the durations in force.
            const int count = cycle_.stageCount();
            const int partner = callkit::partnerStage(cycle_.partners[static_cast<std::size_t>(stage) - 1], count);
            for (double changed : {stage, static_cast<double>(partner)}) {
                if (changed >= 1.0 && changed <= count) {
                    inForce_[static_cast<std::size_t>(changed) - 1] = duration;
                    table_[static_cast<std::size_t>(changed) - 1] = duration;
                }
            }
            durationsSetBy_ = {events_.get(), events_->line()};
        }
        eventRead_ = events_->next();
    }
    if (!updates_.empty()) {
        row.updates = &updates_;
    } else {
        update.set("updateSwitch", 0.0);
        if (update.call() == kStatusFatal) {
            return false;
        }
        row.updateResult = update.value("updateResult");
    }
    return true;
}

// The stage in force at `time` and its start come from the stage clock;
// SU55IF_DEFST then reports the stage's duration and the time elapsed in it.
// When the call changed the durations (an input, an event or the change
// check before it), the stage in force keeps its start and the new
// durations apply from it on.
bool Simulator::stageInForce(double time, SampleSink &sink) {
    try {
        clock_.advanceTo(time);
    } catch (const Error &error) {
        clockFault(time, error);
    }
    const int stage = clock_.stage();
    const ExactTime start = clock_.start();
    if (!callDefineStages(time, stage, start.hi)) {
        return false;
    }
    const double *durations = cells_.durations;
    if (std::equal(scheduled_.begin(), scheduled_.end(), durations)) {
        return true;
    }
    scheduled_.assign(durations, durations + scheduled_.size());
    table_ = scheduled_;
    try {
        clock_.reset(scheduled_, stage, start, clock_.cyclesBegun());
        clock_.advanceTo(time);
    } catch (const Error &error) {
        clockFault(time, error);
    }
    sink.scheduleChanged(time, scheduled_, *cells_.cycleDuration);
    if (cycles_ != 0) {
        if (const std::optional<ExactTime> end = clock_.cycleEnd(static_cast<double>(cycles_))) {
            sink.endMoved(end->hi);
        }
    }
    reportDrifts(time, &sink);
    if (clock_.stage() == stage && clock_.start().hi == start.hi) {
        return true;
    }
    return callDefineStages(time, clock_.stage(), clock_.start().hi);
}

void Simulator::reportDrifts(double time, SampleSink *sink) {
    for (std::size_t k = 0; k < linkedPairs_.size(); ++k) {
        const LinkedPair &pair = linkedPairs_[k];
        const double own = scheduled_[static_cast<std::size_t>(pair.stage - 1)];
        const double other = scheduled_[static_cast<std::size_t>(pair.partner - 1)];
        const bool differ = !(own == other);
        if (differ && !drifted_[k] && sink != nullptr) {
            sink->linkDrifted({time, pair.stage, pair.partner, own, other});
        }
        drifted_[k] = differ;
    }
}

bool Simulator::step(double time, TimelineRow &row, SampleSink &sink) {
    takeInputRows(time);
    if (updateDuration_ && !applyEvents(time, row)) {
        return false;
    }
    if (checkStages_) {
        checkStages_->set("currentDurations", inForce_);
        if (checkStages_->call() == kStatusFatal) {
            return false;
        }
        row.durationsChanged = checkStages_->value("durationsChanged");
        if (row.durationsChanged != 0.0) {
            table_ = inForce_;
        }
    }
    if (inputs_ || updateDuration_) {
        // With the change check in the model, SU55IF_DEFST sees the table as
        // it stands, so that only the change check takes the durations in
        // force into it.
        defineStages_.set("currentDurations", checkStages_ ? table_ : inForce_);
    }
    if (!stageInForce(time, sink)) {
        return false;
    }
    row.time = time;
    row.stage = clock_.stage();
    row.elapsed = *cells_.elapsed;
    row.stageDuration = *cells_.stageDuration;
    row.inputs = drivers_;

    if (!callTiming(row.stage, time)) {
        return false;
    }
    row.delayForCode2 = *cells_.delayForCode2;
    row.delayForCode1 = *cells_.delayForCode1;
    row.actionCode = *cells_.actionCode;
    *cells_.code = row.actionCode;
    if (decoding_.call() == kStatusFatal) {
        return false;
    }
    row.flagCount = flagCount();
    for (std::size_t k = 0; k < static_cast<std::size_t>(row.flagCount); ++k) {
        row.flags[k] = *cells_.flags[k];
    }

    if (recordStep_) {
        recordStep_->set("timeValue", time);
        // The step recorder leaves status 1 on every call.
        if (recordStep_->call() == kStatusFatal) {
            return false;
        }
        row.recordedDuration = recordStep_->value("recordedDuration");
    }
    if (switchSignal_) {
        if (switchSignal_->call() == kStatusFatal) {
            return false;
        }
        row.switchSignal = switchSignal_->value("switchSignal");
    }
    return true;
}

bool Simulator::run(const RunSettings &settings, SampleSink &sink) {
    cycles_ = settings.cycles;
    table_ = schedule_.durations;
    scheduled_ = schedule_.durations;
    startClock();
    sink.scheduleChanged(0.0, scheduled_, schedule_.cycleDuration);
    linkedPairs_ = linkedPairs(cycle_);
    drifted_.assign(linkedPairs_.size(), false);
    // At time 0 the library itself checks the links: nothing to warn of.
    reportDrifts(0.0, nullptr);
    TimelineRow row;
    for (std::uint64_t step = 0;; ++step) {
        const double time = static_cast<double>(step) * settings.outputInterval;
        if (settings.cycles == 0) {
            if (!this->step(time, row, sink)) {
                return false;
            }
            sink.write(row);
            if (step == settings.lastStep) {
                return true;
            }
            continue;
        }
        // By cycles: the end is where the durations in force place it, both
        // before the sample and after the durations it brought.
        if (cycleEndComparedTo(settings.cycles, time) < 0) {
            return true;
        }
        if (!this->step(time, row, sink)) {
            return false;
        }
        const int end = cycleEndComparedTo(settings.cycles, time);
        if (end < 0) {
            return true;
        }
        sink.write(row);
        if (end == 0) {
            return true;
        }
        if (step == kMaxLastStep) {
            throw Error(fmt::format("at time {}, cycle {} has not yet ended after {} samples, the most a run takes: "
                                    "raise the output interval",
                                    readable(time), settings.cycles, kMaxLastStep + 1));
        }
    }
}

int Simulator::cycleEndComparedTo(std::uint64_t cycles, double time) const {
    const std::optional<ExactTime> end = clock_.cycleEnd(static_cast<double>(cycles));
    return end ? compare(*end, time) : -1;
}

}  // namespace su55if::engine
