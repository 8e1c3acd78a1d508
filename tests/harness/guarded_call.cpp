#include "harness/guarded_call.h"

#include <cstdint>
#include <cstring>

namespace su55if::test {

namespace {

constexpr std::size_t kGuardCells = 3;
constexpr int kIntGuard = -987654321;

// Guard reals are NaNs with a payload that tells where they stood.
double guardValue(std::size_t position) {
    const std::uint64_t bits = 0xFFF46A5500000000ULL | position;
    double value;
    std::memcpy(&value, &bits, sizeof value);
    return value;
}

// `values` with kGuardCells guard cells before and after.
template <typename T, typename Guard>
std::vector<T> guarded(const std::vector<T> &values, Guard guard) {
    std::vector<T> cells;
    for (std::size_t i = 0; i < kGuardCells; ++i) {
        cells.push_back(guard(i));
    }
    cells.insert(cells.end(), values.begin(), values.end());
    for (std::size_t i = 0; i < kGuardCells; ++i) {
        cells.push_back(guard(kGuardCells + values.size() + i));
    }
    return cells;
}

std::vector<int> guardedInts(const std::vector<int> &values) {
    return guarded(values, [](std::size_t) { return kIntGuard; });
}

std::vector<double> guardedReals(const std::vector<double> &values) { return guarded(values, guardValue); }

// Copies the values between the guards back and reports a changed guard.
template <typename T>
void unguard(const std::vector<T> &cells, const std::vector<T> &before, std::vector<T> &values, const char *what,
             std::vector<std::string> &faults) {
    for (std::size_t i = 0; i < cells.size(); ++i) {
        const bool guard = i < kGuardCells || i >= kGuardCells + values.size();
        if (!guard) {
            values[i - kGuardCells] = cells[i];
        } else if (std::memcmp(&cells[i], &before[i], sizeof(T)) != 0) {
            faults.push_back(std::string("guard ") + std::to_string(i) + " around " + what + " changed");
        }
    }
}

}  // namespace

bool sameBits(double a, double b) { return std::memcmp(&a, &b, sizeof a) == 0; }

GuardedCall::GuardedCall(const procedures::Frame &frame) : outputCell_(frame.realOutputs.size(), false) {
    for (std::size_t k = 0; k < frame.outputOffsets.size(); ++k) {
        for (int e = 0; e < frame.outputSizes[k]; ++e) {
            outputCell_.at(static_cast<std::size_t>(frame.outputOffsets[k] - 1 + e)) = true;
        }
    }
}

std::vector<std::string> GuardedCall::run(procedures::Frame &frame, su55if_procedure *function,
                                          double callMode) const {
    std::vector<std::string> faults;
    frame.callMode = callMode;
    const std::vector<double> inputsBefore = frame.realInputs;
    const std::vector<double> outputsBefore = frame.realOutputs;
    const std::vector<int> *integers[] = {&frame.inputSizes, &frame.outputSizes, &frame.inputOffsets,
                                          &frame.outputOffsets};
    std::vector<int> intCells[4];
    for (std::size_t v = 0; v < 4; ++v) {
        intCells[v] = guardedInts(*integers[v]);
    }
    const std::vector<int> counts = guardedInts({frame.workspaceSize, frame.derivativeCount1,
                                                 frame.derivativeCount2});
    std::vector<int> status = guardedInts({frame.statusBefore});
    std::vector<double> workspace = guardedReals(frame.workspace);
    std::vector<double> derivatives = guardedReals(frame.derivatives);
    const std::vector<double> mode = guardedReals({callMode});
    const std::vector<double> unused = guardedReals({});
    const std::vector<int> statusBefore = status;
    const std::vector<double> workspaceBefore = workspace;
    const std::vector<double> derivativesBefore = derivatives;
    const std::vector<int> countsBefore = counts;
    const std::vector<double> modeBefore = mode;
    std::vector<int> intsBefore[4] = {intCells[0], intCells[1], intCells[2], intCells[3]};

    function(frame.realInputs.data(), intCells[0].data() + kGuardCells, frame.realOutputs.data(),
             intCells[1].data() + kGuardCells, intCells[2].data() + kGuardCells, intCells[3].data() + kGuardCells,
             status.data() + kGuardCells, unused.data() + kGuardCells, workspace.data() + kGuardCells,
             counts.data() + kGuardCells, derivatives.data() + kGuardCells, counts.data() + kGuardCells + 1,
             counts.data() + kGuardCells + 2, mode.data() + kGuardCells);

    std::vector<int> statusValue{0};
    unguard(status, statusBefore, statusValue, "status", faults);
    frame.status = statusValue[0];
    unguard(workspace, workspaceBefore, frame.workspace, "workspace", faults);
    unguard(derivatives, derivativesBefore, frame.derivatives, "the derivative block", faults);
    for (std::size_t i = 0; i < frame.realInputs.size(); ++i) {
        if (!sameBits(frame.realInputs[i], inputsBefore[i])) {
            faults.push_back("realInputs element " + std::to_string(i + 1) + " changed");
        }
    }
    for (std::size_t i = 0; i < frame.realOutputs.size(); ++i) {
        if (!outputCell_[i] && !sameBits(frame.realOutputs[i], outputsBefore[i])) {
            faults.push_back("realOutputs gap at element " + std::to_string(i + 1) + " changed");
        }
    }
    for (std::size_t v = 0; v < 4; ++v) {
        if (intCells[v] != intsBefore[v]) {
            faults.push_back("integer vector " + std::to_string(v + 2) + " or its guards changed");
        }
    }
    if (counts != countsBefore) {
        faults.push_back("workspaceSize, a derivative count or their guards changed");
    }
    for (std::size_t i = 0; i < mode.size(); ++i) {
        if (!sameBits(mode[i], modeBefore[i])) {
            faults.push_back("callMode or its guards changed");
        }
    }
    for (std::size_t i = 0; i < unused.size(); ++i) {
        if (!sameBits(unused[i], guardValue(i))) {
            faults.push_back("argument 8 was written");
        }
    }
    return faults;
}

}  // namespace su55if::test
