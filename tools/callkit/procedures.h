// The nine procedures as host-side code sees them: their arguments by name,
// from include/su55if_procedures.json, and a call frame laid out from that
// description. The command-line host, the tests, the benchmarks and the fuzz
// targets all lay out their calls with it; it is not part of the library.
#pragma once

#include <cstddef>
#include <initializer_list>
#include <span>
#include <string_view>
#include <utility>
#include <vector>

#include "su55if.h"

namespace su55if::procedures {

// Where an argument's number of values comes from.
enum class SizeSource {
    scalar,      // one value
    inputSize,   // element sizeIndex of inputSizes
    outputSize,  // element sizeIndex of outputSizes
};

struct Argument {
    std::string_view name;  // as the manual names it
    SizeSource source;
    int sizeIndex;  // 1-based k of inputSizes(k) or outputSizes(k); 0 for a scalar
};

struct Procedure {
    std::string_view name;     // the exported symbol
    std::string_view method;   // a lower-case name for tools that call it by purpose
    std::string_view summary;
    bool readsStageTable;      // reads or changes the library's stage table
    std::span<const Argument> inputs;
    std::span<const Argument> outputs;
    int workspace;  // reals the host keeps for an instance between calls (0: none)
};

// The nine, in the order of the description.
std::span<const Procedure> all();

// The procedure with this exported name; throws std::invalid_argument.
const Procedure &find(std::string_view name);

// The 1-based position of a named argument; throws std::invalid_argument.
int inputIndex(const Procedure &procedure, std::string_view name);
int outputIndex(const Procedure &procedure, std::string_view name);

// Whether argument k (0-based) of an argument list is a vector with a size
// element of its own, whose number of values a Frame needs; a scalar or a
// vector sharing another's size is not.
bool hasOwnSize(std::span<const Argument> arguments, std::size_t k);

// How the arguments are placed in the host's two real vectors. The default
// packs them one after another from element 1, as a simulator usually does.
// With a gap, `gap` cells stand before the first argument and after each
// one, each holding gapValue plus its 0-based position; reversed places the
// last argument first. Tests use both to catch reads and writes outside an
// argument.
struct Placement {
    std::size_t gap = 0;
    double gapValue = 0.0;
    bool reversed = false;
};

// The number of values of a vector argument, by its name.
using Length = std::pair<std::string_view, int>;

// One procedure instance's fourteen arguments, kept between calls as a
// simulator keeps a block's arguments. The vectors are public so that a
// host can look at or alter anything (a test's guards, a fuzz target's
// hostile sizes); the named accessors cover the usual use.
class Frame {
public:
    // Every vector argument whose size is its own needs a length; one that
    // shares another argument's size (the durations in force of
    // SU55IF_DEFST) takes that argument's length. Throws
    // std::invalid_argument for an unknown name, a missing or negative length.
    Frame(const Procedure &procedure, std::initializer_list<Length> lengths = {}, Placement placement = {})
        : Frame(procedure, std::span<const Length>(lengths.begin(), lengths.size()), placement) {}
    Frame(std::string_view procedure, std::initializer_list<Length> lengths = {}, Placement placement = {})
        : Frame(find(procedure), lengths, placement) {}
    // The same with lengths gathered at run time.
    Frame(const Procedure &procedure, std::span<const Length> lengths, Placement placement = {});

    const Procedure &procedure() const { return *procedure_; }

    // Input and output arguments, by name or 1-based position, as views of
    // their values in realInputs and realOutputs.
    std::span<double> input(std::string_view name);
    std::span<double> input(int k);
    std::span<const double> output(std::string_view name) const;
    std::span<const double> output(int k) const;

    // Sets an input; the number of values must match. Throws
    // std::invalid_argument otherwise.
    void set(std::string_view input, double value);
    void set(std::string_view input, std::span<const double> values);
    // The first value of an output.
    double value(std::string_view output) const { return this->output(output)[0]; }

    // A derivative block of count1 x count2 reals, each set to `fill`.
    void derivativeBlock(int count1, int count2, double fill = 0.0);

    // Calls `function` (the procedure's symbol) with status preset to
    // statusBefore, and returns the status it left.
    int call(su55if_procedure *function, double mode = 0.0);

    std::vector<double> realInputs;
    std::vector<int> inputSizes;
    std::vector<double> realOutputs;
    std::vector<int> outputSizes;
    std::vector<int> inputOffsets;
    std::vector<int> outputOffsets;
    int statusBefore = 0;
    int status = 0;
    std::vector<double> workspace;
    int workspaceSize = 0;
    std::vector<double> derivatives;
    int derivativeCount1 = 0;
    int derivativeCount2 = 0;
    double callMode = 0.0;

private:
    const Procedure *procedure_;
};

}  // namespace su55if::procedures
