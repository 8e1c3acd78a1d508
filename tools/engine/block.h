// One procedure instance, as a simulator keeps one for each block of a model:
// its call frame (laid out from the procedure description, kept between
// calls so that outputs and the workspace keep their values) and the
// procedure it calls, from whichever binding the caller chose.
#pragma once

#include <cstdio>
#include <initializer_list>
#include <string_view>
#include <vector>

#include "callkit/binding.h"
#include "callkit/procedures.h"

namespace su55if::engine {

// The status a procedure leaves after a fatal diagnostic: the run must stop.
inline constexpr int kStatusFatal = SU55IF_STATUS_FATAL;

class Block {
public:
    // lengths: the number of values of each vector argument, by name.
    // callLog: where --log-calls writes, or null.
    Block(const callkit::Binding &library, std::string_view procedure,
          std::initializer_list<procedures::Length> lengths, std::FILE *callLog);

    // Input and output cells by argument name, for setting and reading fast:
    // the frame's storage does not move after construction.
    double *input(std::string_view name) { return frame_.input(name).data(); }
    const double *output(std::string_view name) const { return frame_.output(name).data(); }
    const double *output(int k) const { return frame_.output(k).data(); }
    void set(std::string_view name, double value) { frame_.set(name, value); }
    void set(std::string_view name, const std::vector<double> &values) { frame_.set(name, values); }
    double value(std::string_view name) const { return frame_.value(name); }

    // One call in call mode 0 (outputs only: the engine integrates no
    // states) with status preset to 0; returns the status the library left.
    int call();

    std::string_view name() const { return frame_.procedure().name; }

private:
    const callkit::Binding &library_;
    procedures::Frame frame_;
    su55if_procedure *function_;
    std::FILE *callLog_;

    void logCall();
};

}  // namespace su55if::engine
