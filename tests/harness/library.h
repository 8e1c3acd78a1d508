// The tests' way to the built library: loads a fresh copy of it and calls its
// procedures the way a simulator does, through a frame laid out from the
// procedure description, with every argument surrounded by guard values so
// that a stray write is caught.
#pragma once

#include <initializer_list>
#include <string>
#include <vector>

#include "su55if.h"

namespace su55if::test {

// The value an output element holds before a call; still there afterwards
// means "not written".
inline constexpr double kUnwritten = 12345.5;
// The value of every derivative element before a call.
inline constexpr double kDerivativeBefore = 7.25;
// The status value a call starts with unless a test sets another.
inline constexpr int kStatusBefore = 17;

// One loaded copy of the library. The stage table lives as long as the
// library is loaded, so every test gets its own copy with a fresh table.
class Library {
public:
    Library();
    ~Library();
    Library(const Library &) = delete;
    Library &operator=(const Library &) = delete;

    su55if_procedure *procedure(const char *name) const;

private:
    void *handle_ = nullptr;
};

struct Result {
    std::vector<std::vector<double>> outputs;  // per output argument, as sized
    std::vector<double> derivatives;           // the whole derivative block
    std::vector<double> workspace;             // the workspace as sized
    int status = 0;
    std::string printed;                       // what the call wrote to standard output
    std::vector<std::string> guardFaults;      // every guard found changed

    double out(std::size_t k, std::size_t element = 1) const { return outputs.at(k - 1).at(element - 1); }
    bool outputsUntouched() const;
    bool derivativesUntouched() const;
    bool derivativesZeroed() const;  // every element +0.0
    std::vector<std::string> printedLines() const;
};

// One call's arguments, given in argument order and laid out by
// su55if::procedures::Frame in reverse order with gap cells between them, so
// that offsets are neither 1, 2, 3 nor in order. The number of arguments and
// the values of a vector sharing another's size must fit the procedure's
// description (std::invalid_argument otherwise).
class Call {
public:
    explicit Call(const Library &library) : library_(library) {}

    Call &input(std::vector<double> values);  // the next input argument
    Call &input(double value) { return input(std::vector<double>{value}); }
    Call &inputSize(std::size_t k, int size);  // declares a size other than the element count
    Call &output(std::size_t count = 1);       // the next output argument
    Call &outputs(std::size_t scalars);        // that many scalar outputs
    Call &outputSize(std::size_t k, int size);
    Call &derivatives(int count1, int count2);
    Call &workspace(std::vector<double> values);
    Call &status(int value);

    // Runs the named procedure. The workspace carries over to the next run.
    Result run(const char *name, double callMode = 0.0);

private:
    const Library &library_;
    std::vector<std::vector<double>> inputs_;
    std::vector<int> inputSizes_;
    std::vector<std::size_t> outputCounts_;
    std::vector<int> outputSizes_;
    int derivativeCount1_ = 0;
    int derivativeCount2_ = 0;
    std::vector<double> workspace_;
    int status_ = kStatusBefore;
};

}  // namespace su55if::test
