#include "simulation.h"

#include <fmt/format.h>

#include <algorithm>
#include <cmath>

#include "host_error.h"

namespace su55if::host {

namespace {

// Error-free transformations: a + b and k * c as a rounded value and the
// rounding error, so that sums of durations and whole cycles stay exact to
// about 106 bits.
ExactTime twoSum(double a, double b) {
    const double sum = a + b;
    const double bPart = sum - a;
    return {sum, (a - (sum - bPart)) + (b - bPart)};
}

ExactTime normalized(double hi, double lo) {
    const double sum = hi + lo;
    return {sum, lo - (sum - hi)};
}

ExactTime add(ExactTime x, ExactTime y) {
    const ExactTime sum = twoSum(x.hi, y.hi);
    return normalized(sum.hi, sum.lo + x.lo + y.lo);
}

ExactTime times(double k, ExactTime c) {
    const double product = k * c.hi;
    return normalized(product, std::fma(k, c.hi, -product) + k * c.lo);
}

// x <= t, with x's low part taken into account.
bool notAfter(ExactTime x, double t) {
    const ExactTime difference = twoSum(x.hi, -t);
    return difference.hi + (difference.lo + x.lo) <= 0.0;
}

std::string durationName(int stage) { return fmt::format("duration{}", stage); }

[[noreturn]] void failAt(const TimedTable &table, std::size_t row, const std::string &message) {
    throw HostError(fmt::format("{}:{}: {}", table.name, table.lines.at(row), message));
}

}  // namespace

std::vector<std::string> inputColumnNames(int stageCount) {
    std::vector<std::string> names{"hold", "check", "signal", "value", "limit", "enable"};
    for (int stage = 1; stage <= stageCount; ++stage) {
        names.push_back(durationName(stage));
    }
    return names;
}

std::vector<std::string> eventColumnNames() { return {"stage", "duration"}; }

RunSettings sampling(double stopTime, double outputInterval, const std::string &given) {
    const double ratio = stopTime / outputInterval;
    if (!(ratio < static_cast<double>(kMaxLastStep))) {
        throw HostError(fmt::format("{} give more than {} samples, the most a run takes: raise the output interval "
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

void StageClock::reset(const std::vector<double> &durations, int anchorStage, ExactTime anchorTime) {
    const int count = static_cast<int>(durations.size());
    order_.clear();
    sums_.assign(1, ExactTime{});
    for (int j = 0; j < count; ++j) {
        const int stage = (anchorStage - 1 + j) % count + 1;
        order_.push_back(stage);
        sums_.push_back(add(sums_.back(), {durations[static_cast<std::size_t>(stage - 1)], 0.0}));
    }
    double cycle = 0.0;  // as the library adds them, to tell an overflow from a NaN
    for (double duration : durations) {
        cycle += duration;
    }
    if (std::isinf(cycle)) {
        throw HostError("the stage durations add up to more than the largest number: the cycle duration "
                        "overflows to infinity");
    }
    if (!(cycle > 0.0) || !(sums_.back().hi > 0.0)) {
        throw HostError(fmt::format("the stage durations add up to {}: a cycle must last longer than 0", cycle));
    }
    anchor_ = anchorTime;
    cycle_ = 0.0;
    position_ = 0;
    settle();
}

void StageClock::settle() {
    start_ = startOf(cycle_, position_);
    next_ = position_ + 1 < order_.size() ? startOf(cycle_, position_ + 1) : startOf(cycle_ + 1.0, 0);
}

ExactTime StageClock::startOf(double cycle, std::size_t position) const {
    return add(add(anchor_, times(cycle, sums_.back())), sums_[position]);
}

void StageClock::advanceTo(double time) {
    if (!notAfter(next_, time)) {
        return;  // still in the same stage
    }
    if (notAfter(startOf(cycle_ + 1.0, 0), time)) {
        // Whole cycles first: one step may pass many. The division gives the
        // cycle index up to rounding; the exact starts settle it.
        double cycle = std::max(cycle_ + 1.0, std::floor((time - anchor_.hi) / sums_.back().hi));
        if (!(cycle < kMaxCycles)) {
            throw HostError(fmt::format("cannot place time {}: it lies more than {} cycles after the start, "
                                        "where stage starts can no longer be told apart",
                                        time, kMaxCycles));
        }
        while (cycle > cycle_ + 1.0 && !notAfter(startOf(cycle, 0), time)) {
            cycle -= 1.0;
        }
        while (notAfter(startOf(cycle + 1.0, 0), time)) {
            cycle += 1.0;
        }
        cycle_ = cycle;
        position_ = 0;
    }
    while (position_ + 1 < order_.size() && notAfter(startOf(cycle_, position_ + 1), time)) {
        ++position_;
    }
    settle();
}

Simulator::Simulator(const Library &library, const Cycle &cycle, const RunInputs &inputs, bool twin,
                     std::FILE *callLog)
    : cycle_(cycle),
      twin_(twin),
      inputs_(inputs.inputs),
      defineStages_(library, "SU55IF_DEFST", {{"requestedDurations", cycle.stageCount()},
                                              {"stageDurations", cycle.stageCount()}},
                    callLog),
      timing_(library, timingName(), {{"interactionTable", cycle.stageCount()}}, callLog),
      decoding_(library, decodingName(), {}, callLog) {
    const int count = cycle.stageCount();
    // The file's durations are both the requested ones and the ones in force,
    // and the hold switch 0 lets the library follow them.
    defineStages_.set("requestedDurations", cycle.durations);
    defineStages_.set("currentDurations", cycle.durations);
    defineStages_.set("holdSwitch", 0.0);
    timing_.set("interactionTable", cycle.partners);
    cells_.time = defineStages_.input("currentTime");
    cells_.stage = defineStages_.input("stageNumber");
    cells_.reference = defineStages_.input("referenceTime");
    cells_.durations = defineStages_.output("stageDurations");
    cells_.elapsed = defineStages_.output("elapsedTime");
    cells_.stageDuration = defineStages_.output("stageDuration");
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
        const TimedTable &table = *inputs_;
        const auto column = [&](std::string_view name) {
            const std::size_t index = table.columnIndex(name);
            return index < table.columns.size() ? static_cast<int>(index) : -1;
        };
        columns_.hold = column("hold");
        columns_.check = column("check");
        columns_.signal = column("signal");
        columns_.value = column("value");
        columns_.limit = column("limit");
        columns_.enable = column("enable");
        for (int stage = 1; stage <= count; ++stage) {
            const int index = column(durationName(stage));
            columns_.durations.push_back(index);
            for (std::size_t row = 0; index >= 0 && row < table.rowCount(); ++row) {
                const double duration = table.value(row, static_cast<std::size_t>(index));
                if (!(duration >= 0.0) || !std::isfinite(duration)) {
                    failAt(table, row, fmt::format("{} {} is not a duration (a finite number, 0 or more)",
                                                   durationName(stage), duration));
                }
            }
        }
    }
    if (inputs.events) {
        const TimedTable &table = *inputs.events;
        const std::size_t stageColumn = table.columnIndex("stage");
        const std::size_t durationColumn = table.columnIndex("duration");
        if (stageColumn == table.columns.size() || durationColumn == table.columns.size()) {
            throw HostError(fmt::format("{}: an events file needs the columns time, stage and duration", table.name));
        }
        for (std::size_t row = 0; row < table.rowCount(); ++row) {
            const double stage = table.value(row, stageColumn);
            const double duration = table.value(row, durationColumn);
            if (!(stage >= 1.0 && stage <= count && stage == std::trunc(stage))) {
                failAt(table, row, fmt::format("stage {} is not a stage of the cycle (1 to {})", stage, count));
            }
            if (!(duration >= 0.0) || !std::isfinite(duration)) {
                failAt(table, row, fmt::format("duration {} is not a duration (a finite number, 0 or more)", duration));
            }
            events_.push_back({table.times[row], stage, duration});
        }
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

bool Simulator::define() {
    if (!callDefineStages(0.0, 1, 0.0)) {
        return false;
    }
    const double *durations = defineStages_.output("stageDurations");
    schedule_.durations.assign(durations, durations + cycle_.stageCount());
    schedule_.cycleDuration = defineStages_.value("cycleDuration");
    return true;
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

void Simulator::takeInputRow(std::size_t row) {
    const auto valueOf = [&](int column) { return inputs_->value(row, static_cast<std::size_t>(column)); };
    for (std::size_t k = 0; k < columns_.durations.size(); ++k) {
        if (columns_.durations[k] >= 0) {
            inForce_[k] = valueOf(columns_.durations[k]);
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
    bool any = false;
    while (nextEvent_ < events_.size() && events_[nextEvent_].time <= time) {
        const Event &event = events_[nextEvent_++];
        any = true;
        update.set("updateSwitch", 1.0);
        update.set("stageNumber", event.stage);
        update.set("newDuration", event.duration);
        if (update.call() == kStatusFatal) {
            return false;
        }
        row.updateResult = update.value("updateResult");
        if (row.updateResult > 0.0) {
            // The table now holds the new duration, for the stage and its
            // partner: so do the durations in force.
            const auto stage = static_cast<std::size_t>(event.stage);
            const double partner = std::round(std::fabs(cycle_.partners[stage - 1]));
            for (double changed : {static_cast<double>(stage), partner}) {
                if (changed >= 1.0 && changed <= cycle_.stageCount()) {
                    inForce_[static_cast<std::size_t>(changed) - 1] = event.duration;
                    table_[static_cast<std::size_t>(changed) - 1] = event.duration;
                }
            }
        }
    }
    if (!any) {
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
    clock_.advanceTo(time);
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
        clock_.reset(scheduled_, stage, start);
    } catch (const HostError &error) {
        throw HostError(fmt::format("{}: at time {}, {}", cycle_.name, time, error.what()));
    }
    clock_.advanceTo(time);
    sink.scheduleChanged(time, scheduled_);
    if (clock_.stage() == stage && clock_.start().hi == start.hi) {
        return true;
    }
    return callDefineStages(time, clock_.stage(), clock_.start().hi);
}

bool Simulator::step(double time, TimelineRow &row, SampleSink &sink) {
    while (inputs_ && nextRow_ < inputs_->times.size() && inputs_->times[nextRow_] <= time) {
        takeInputRow(nextRow_++);
    }
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
    inForce_ = cycle_.durations;
    table_ = schedule_.durations;
    scheduled_ = schedule_.durations;
    nextRow_ = 0;
    nextEvent_ = 0;
    try {
        clock_.reset(scheduled_, 1, {});
    } catch (const HostError &error) {
        throw HostError(fmt::format("{}: cannot run the cycle: {}", cycle_.name, error.what()));
    }
    sink.scheduleChanged(0.0, scheduled_);
    TimelineRow row;
    for (std::uint64_t step = 0;; ++step) {
        const double time = static_cast<double>(step) * settings.outputInterval;
        if (!this->step(time, row, sink)) {
            return false;
        }
        sink.write(row);
        if (step == settings.lastStep) {
            return true;
        }
    }
}

}  // namespace su55if::host
