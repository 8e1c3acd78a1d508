// The library as the host loads and calls it: dlopen at run time, the
// exports resolved by name, and each procedure instance laid out the way a
// simulator lays out a block's arguments.
#pragma once

#include <cstdio>
#include <span>
#include <string>
#include <vector>

#include "su55if.h"

namespace su55if::host {

// A loaded copy of libsu55if.so. The stage schedule lives in it for as long
// as the process runs, shared by every instance below.
class Library {
public:
    // Loads the file with RTLD_NOW, so that a file with missing symbols fails
    // here and not during a call. Throws HostError with dlerror()'s text.
    explicit Library(const std::string &path);
    Library(const Library &) = delete;
    Library &operator=(const Library &) = delete;

    su55if_procedure *resolve(const char *name) const;
    const std::string &path() const { return path_; }

private:
    std::string path_;
    void *handle_;
};

// Where the host looks for the library when no --library is given: beside
// the executable, in ../lib from it, and where the build put it.
std::vector<std::string> defaultLibraryPaths();

// Loads `requested` if it is not empty, else the first default path that
// exists.
std::string chooseLibraryPath(const std::string &requested);

// One procedure instance, as a simulator keeps one for each block of a model:
// input arguments packed one after another in realInputs, output arguments
// in realOutputs, with their sizes and 1-based offsets; a status cell; a
// workspace; and a derivative block. The storage lives as long as the
// instance, so outputs keep their values between calls like a simulator's.
class Instance {
public:
    Instance(const Library &library, const char *name, std::vector<int> inputSizes,
             std::vector<int> outputSizes, std::FILE *callLog);

    void setInput(int k, double value) { setInput(k, std::span<const double>(&value, 1)); }
    void setInput(int k, std::span<const double> values);
    double output(int k, int element = 1) const;
    std::span<const double> outputVector(int k) const;

    // One call with status preset to 0; returns the status the library left.
    // Call mode 0 asks for outputs only: the host integrates no states, so it
    // has no derivative block for the library to zero.
    int call(double callMode = 0.0);

private:
    std::string name_;
    su55if_procedure *procedure_;
    std::vector<int> inputSizes_, outputSizes_;
    std::vector<int> inputOffsets_, outputOffsets_;
    std::vector<double> realInputs_, realOutputs_;
    std::vector<double> workspace_{0.0};
    std::vector<double> derivatives_{0.0};
    int status_ = 0;
    std::FILE *callLog_;

    void logCall(double callMode) const;
};

}  // namespace su55if::host
