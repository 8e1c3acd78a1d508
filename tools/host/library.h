// The library as the host loads and calls it: loaded at run time, the
// exports resolved by name, and each procedure instance laid out from the
// procedure description, the way a simulator lays out a block's arguments.
#pragma once

#include <cstdio>
#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

#include "dynamic_library.h"
#include "procedures/procedures.h"
#include "record_capture.h"
#include "su55if.h"

namespace su55if::host {

// The status a procedure leaves after a fatal diagnostic: the run must stop.
inline constexpr int kStatusFatal = SU55IF_STATUS_FATAL;

// A loaded copy of libsu55if.so (su55if.dll). The stage schedule lives in it
// for as long as the process runs, shared by every block below.
//
// The library writes its diagnostic records to the C standard output. The
// host keeps its own standard output for data, so every call goes through
// Block::call, which captures the records for the length of the call;
// records() then holds what the library wrote.
class Library {
public:
    // Checks the file, then loads it (DynamicLibrary). Throws HostError.
    explicit Library(const std::string &path);

    su55if_procedure *resolve(std::string_view name) const;
    const std::string &path() const { return path_; }

    // The records the library has written so far, one per line.
    std::vector<std::string> records() const;

    // Where a call's records go while it runs.
    RecordCapture &recordCapture() const { return records_; }

private:
    std::string path_;
    DynamicLibrary library_;
    mutable RecordCapture records_;
};

// Where the host looks for the library when no --library is given: beside
// the executable, in ../lib from it (not on Windows, where the DLL is
// installed beside the executable in bin/), the library's own file where
// this build installs it (../lib/libsu55if.so.0, or in the multiarch folder),
// and where the build put it.
std::vector<std::string> defaultLibraryPaths();

// Loads `requested` if it is not empty, else the first default path that
// exists.
std::string chooseLibraryPath(const std::string &requested);

// One procedure instance, as a simulator keeps one for each block of a model:
// its call frame (laid out from the procedure description, kept between
// calls so that outputs and the workspace keep their values) and the
// exported symbol.
class Block {
public:
    // lengths: the number of values of each vector argument, by name.
    // callLog: where --log-calls writes, or null.
    Block(const Library &library, std::string_view procedure, std::initializer_list<procedures::Length> lengths,
          std::FILE *callLog);

    // Input and output cells by argument name, for setting and reading fast:
    // the frame's storage does not move after construction.
    double *input(std::string_view name) { return frame_.input(name).data(); }
    const double *output(std::string_view name) const { return frame_.output(name).data(); }
    const double *output(int k) const { return frame_.output(k).data(); }
    void set(std::string_view name, double value) { frame_.set(name, value); }
    void set(std::string_view name, const std::vector<double> &values) { frame_.set(name, values); }
    double value(std::string_view name) const { return frame_.value(name); }

    // One call in call mode 0 (outputs only: the host integrates no states)
    // with status preset to 0; returns the status the library left.
    int call();

    std::string_view name() const { return frame_.procedure().name; }

private:
    const Library &library_;
    procedures::Frame frame_;
    su55if_procedure *function_;
    std::FILE *callLog_;

    void logCall();
};

}  // namespace su55if::host
