// The fixed scenarios in which the procedures are measured: one call frame
// per scenario (laid out by the shared frame of tools/procedures), and the
// procedure it calls. Shared by the instruction-count driver and the
// wall-time benchmarks.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "callkit/procedures.h"
#include "su55if.h"

namespace su55if::bench {

using procedures::Frame;

// Where the scenarios find the procedures: the library linked into the
// program, or another build of it loaded beside it (to compare the two in one
// run). Each loaded file has its own stage table.
class Library {
public:
    Library() = default;                 // the linked library
    explicit Library(const char *path);  // another build; check loaded()
    bool loaded() const { return handle_ != nullptr; }
    su55if_procedure *procedure(const char *symbol) const;

private:
    void *handle_ = nullptr;
    bool linked_ = true;
};

struct Scenario {
    const char *name;
    const char *symbol;   // the exported procedure whose calls are measured
    std::int64_t budget;  // instructions per call, inside the procedure
    // The frame, after any schedule it needs is defined in the given library.
    Frame (*prepare)(const Library &library);
    void (*vary)(Frame &frame, std::int64_t call);  // changes inputs between calls, or null
};

const std::vector<Scenario> &scenarios();
const Scenario *findScenario(const std::string &name);

}  // namespace su55if::bench
