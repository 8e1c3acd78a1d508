// The library's model for fuzzing, its entry point (runSession): the host,
// which keeps a schedule, an interaction table and the step workspaces
// between calls and fills each call of a procedure from the fuzzer's bytes,
// and the session that makes those calls on a fresh stage table and checks
// each (library_model_call.cpp, library_model_rules.cpp).
#include <algorithm>

#include "library_model_internal.h"

namespace su55if::fuzz {

// ---------------------------------------------------------------------------
// The host: what it keeps between calls and how it fills each call.

namespace {

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
