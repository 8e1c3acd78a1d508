// The fixed scenarios in which the procedures are measured: one call frame
// per scenario, laid out as a host lays it out, and the procedure it calls.
// Shared by the instruction-count driver and the wall-time benchmarks.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "su55if.h"

namespace su55if::bench {

// One host's arguments for repeated calls of one procedure.
struct Frame {
    std::vector<double> inputs;
    std::vector<int> inputSizes;
    std::vector<int> inputOffsets;
    std::vector<double> outputs;
    std::vector<int> outputSizes;
    std::vector<int> outputOffsets;
    int status = 0;
    std::vector<double> workspace = std::vector<double>(5, 0.0);
    int workspaceSize = 5;
    std::vector<double> derivatives = std::vector<double>(1, 0.0);
    int derivativeCount1 = 0;
    int derivativeCount2 = 0;
    double callMode = 0.0;

    // Appends an input or output argument; returns its 1-based offset.
    int input(const std::vector<double> &values);
    int input(double value) { return input(std::vector<double>{value}); }
    int output(std::size_t count = 1);
    void derivativeBlock(int count1, int count2);

    // The value of input argument k (1-based), to vary it between calls.
    double &inputValue(int k) { return inputs[static_cast<std::size_t>(inputOffsets[static_cast<std::size_t>(k - 1)] - 1)]; }

    void call(su55if_procedure *procedure) {
        procedure(inputs.data(), inputSizes.data(), outputs.data(), outputSizes.data(), inputOffsets.data(),
                  outputOffsets.data(), &status, nullptr, workspace.data(), &workspaceSize,
                  derivatives.data(), &derivativeCount1, &derivativeCount2, &callMode);
    }
};

// Where the scenarios find the procedures: the library linked into the
// program, or another build of it loaded beside it (to compare the two in one
// run). Each loaded file has its own stage table.
class Library {
public:
    Library() = default;                  // the linked library
    explicit Library(const char *path);   // another build; check loaded()
    bool loaded() const { return handle_ != nullptr; }
    su55if_procedure *procedure(const char *symbol) const;

private:
    void *handle_ = nullptr;
    bool linked_ = true;
};

struct Scenario {
    const char *name;
    const char *symbol;             // the exported procedure whose calls are measured
    std::int64_t budget;            // instructions per call, inside the procedure
    // Builds the frame and any schedule it needs in the given library.
    void (*prepare)(Frame &frame, const Library &library);
    void (*vary)(Frame &frame, std::int64_t call);  // changes inputs between calls, or null
};

const std::vector<Scenario> &scenarios();
const Scenario *findScenario(const std::string &name);

}  // namespace su55if::bench
