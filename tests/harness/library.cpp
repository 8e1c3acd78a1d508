#include "harness/library.h"

#include <gtest/gtest.h>
#include <fcntl.h>
#include <stdlib.h>

#if defined(_WIN32)
// The Windows build loads su55if.dll with LoadLibrary; io.h has the C
// runtime's descriptor calls (dup, dup2, close), and the DLL shares that C
// runtime, and so its standard output, with this program.
#ifndef NOMINMAX
#define NOMINMAX
#endif
#define WIN32_LEAN_AND_MEAN
#include <io.h>
#include <windows.h>
#else
#include <dlfcn.h>
#include <unistd.h>
#endif

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include "harness/guarded_call.h"
#include "callkit/procedures.h"
#include "callkit/record_capture.h"

namespace su55if::test {

namespace {

// Gap cells around the arguments in realInputs and realOutputs.
constexpr std::size_t kGapCells = 3;
constexpr double kGapValue = -777.125;

#if defined(_WIN32)
// The name of a new empty file in the temporary directory.
std::string temporaryFile() {
    char directory[MAX_PATH + 1];
    char path[MAX_PATH + 1];
    const DWORD length = GetTempPathA(sizeof directory, directory);
    if (length == 0 || length > MAX_PATH || GetTempFileNameA(directory, "s55", 0, path) == 0) {
        throw std::runtime_error("cannot create a temporary file");
    }
    return path;
}

// A copy of the DLL under a fresh name (Windows maps a second load of the
// same file onto the first, stage table included).
std::string copyLibrary() {
    const std::string path = temporaryFile();
    if (!CopyFileA(SU55IF_LIBRARY_PATH, path.c_str(), FALSE)) {
        DeleteFileA(path.c_str());
        throw std::runtime_error("cannot copy " SU55IF_LIBRARY_PATH);
    }
    return path;
}
#else
std::string copyLibrary() {
    char path[] = "/tmp/su55if-test-XXXXXX.so";
    const int fd = mkstemps(path, 3);
    if (fd < 0) {
        throw std::runtime_error("cannot create a temporary copy of the library");
    }
    std::ifstream source(SU55IF_LIBRARY_PATH, std::ios::binary);
    std::ostringstream bytes;
    bytes << source.rdbuf();
    const std::string data = bytes.str();
    const bool written = data.size() > 0 && write(fd, data.data(), data.size()) == static_cast<ssize_t>(data.size());
    close(fd);
    if (!written) {
        unlink(path);
        throw std::runtime_error("cannot copy " SU55IF_LIBRARY_PATH);
    }
    return path;
}
#endif

}  // namespace

#if defined(_WIN32)
Library::Library() {
    const std::string path = copyLibrary();
    handle_ = LoadLibraryA(path.c_str());
    if (handle_ == nullptr) {
        const DWORD error = GetLastError();
        DeleteFileA(path.c_str());
        throw std::runtime_error("LoadLibrary failed with error " + std::to_string(error));
    }
}

// A loaded DLL cannot be deleted: the copy goes once it is unloaded.
Library::~Library() {
    const HMODULE module = static_cast<HMODULE>(handle_);
    char path[MAX_PATH + 1];
    const DWORD length = GetModuleFileNameA(module, path, sizeof path);
    FreeLibrary(module);
    if (length > 0 && length <= MAX_PATH) {
        DeleteFileA(path);
    }
}

su55if_procedure *Library::procedure(const char *name) const {
    const FARPROC symbol = GetProcAddress(static_cast<HMODULE>(handle_), name);
    if (symbol == nullptr) {
        throw std::runtime_error(std::string("no exported procedure ") + name);
    }
    return reinterpret_cast<su55if_procedure *>(reinterpret_cast<void *>(symbol));
}
#else
Library::Library() {
    const std::string path = copyLibrary();
    handle_ = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    unlink(path.c_str());
    if (handle_ == nullptr) {
        throw std::runtime_error(std::string("dlopen failed: ") + dlerror());
    }
}

Library::~Library() { dlclose(handle_); }

su55if_procedure *Library::procedure(const char *name) const {
    void *symbol = dlsym(handle_, name);
    if (symbol == nullptr) {
        throw std::runtime_error(std::string("no exported procedure ") + name);
    }
    return reinterpret_cast<su55if_procedure *>(symbol);
}
#endif

bool Result::outputsUntouched() const {
    for (const auto &argument : outputs) {
        for (double v : argument) {
            if (!sameBits(v, kUnwritten)) {
                return false;
            }
        }
    }
    return true;
}

bool Result::derivativesUntouched() const {
    for (double v : derivatives) {
        if (!sameBits(v, kDerivativeBefore)) {
            return false;
        }
    }
    return true;
}

bool Result::derivativesZeroed() const {
    for (double v : derivatives) {
        if (!sameBits(v, 0.0)) {
            return false;
        }
    }
    return true;
}

std::vector<std::string> Result::printedLines() const {
    std::vector<std::string> lines;
    std::istringstream text(printed);
    for (std::string line; std::getline(text, line);) {
        lines.push_back(line);
    }
    return lines;
}

Call &Call::input(std::vector<double> values) {
    inputSizes_.push_back(static_cast<int>(values.size()));
    inputs_.push_back(std::move(values));
    return *this;
}

Call &Call::inputSize(std::size_t k, int size) {
    inputSizes_.at(k - 1) = size;
    return *this;
}

Call &Call::output(std::size_t count) {
    outputCounts_.push_back(count);
    outputSizes_.push_back(static_cast<int>(count));
    return *this;
}

Call &Call::outputs(std::size_t scalars) {
    for (std::size_t i = 0; i < scalars; ++i) {
        output(1);
    }
    return *this;
}

Call &Call::outputSize(std::size_t k, int size) {
    outputSizes_.at(k - 1) = size;
    return *this;
}

Call &Call::derivatives(int count1, int count2) {
    derivativeCount1_ = count1;
    derivativeCount2_ = count2;
    return *this;
}

Call &Call::workspace(std::vector<double> values) {
    workspace_ = std::move(values);
    return *this;
}

Call &Call::status(int value) {
    status_ = value;
    return *this;
}

Result Call::run(const char *name, double callMode) {
    using procedures::Frame;
    const procedures::Procedure &procedure = procedures::find(name);
    if (inputs_.size() != procedure.inputs.size() || outputCounts_.size() != procedure.outputs.size()) {
        throw std::invalid_argument(std::string(name) + ": " + std::to_string(inputs_.size()) + " inputs and " +
                                    std::to_string(outputCounts_.size()) + " outputs given");
    }
    // The number of values of every vector argument that has its own size.
    std::vector<procedures::Length> lengths;
    const auto addLengths = [&](std::span<const procedures::Argument> arguments, std::size_t k, std::size_t count) {
        if (procedures::hasOwnSize(arguments, k)) {
            lengths.emplace_back(arguments[k].name, static_cast<int>(count));
        }
    };
    for (std::size_t k = 0; k < inputs_.size(); ++k) {
        addLengths(procedure.inputs, k, inputs_[k].size());
    }
    for (std::size_t k = 0; k < outputCounts_.size(); ++k) {
        addLengths(procedure.outputs, k, outputCounts_[k]);
    }
    Frame frame(procedure, lengths, {.gap = kGapCells, .gapValue = kGapValue, .reversed = true});
    for (std::size_t k = 0; k < inputs_.size(); ++k) {
        frame.set(procedure.inputs[k].name, inputs_[k]);
    }
    for (std::size_t k = 0; k < outputCounts_.size(); ++k) {
        if (frame.outputSizes[k] != static_cast<int>(outputCounts_[k])) {
            throw std::invalid_argument(std::string(name) + ": output " + std::to_string(k + 1) +
                                        " must have as many values as the one whose size it shares");
        }
        std::fill_n(frame.realOutputs.begin() + frame.outputOffsets[k] - 1, outputCounts_[k], kUnwritten);
    }
    const GuardedCall guarded(frame);
    frame.inputSizes = inputSizes_;
    frame.outputSizes = outputSizes_;
    frame.statusBefore = status_;
    frame.workspace = workspace_;
    frame.workspaceSize = static_cast<int>(workspace_.size());
    frame.derivativeBlock(derivativeCount1_, derivativeCount2_, kDerivativeBefore);
    const bool block = derivativeCount1_ > 0 && derivativeCount2_ > 0;
    frame.derivatives.resize(block ? frame.derivatives.size() : 0);

    su55if_procedure *function = library_.procedure(name);
    callkit::RecordCapture capture;
    Result result;
    capture.begin();
    result.guardFaults = guarded.run(frame, function, callMode);
    capture.end();
    result.printed = capture.take();
    result.status = frame.status;
    for (std::size_t k = 0; k < outputCounts_.size(); ++k) {
        const auto first = frame.realOutputs.begin() + frame.outputOffsets[k] - 1;
        result.outputs.emplace_back(first, first + static_cast<std::ptrdiff_t>(outputCounts_[k]));
    }
    result.derivatives = frame.derivatives;
    result.workspace = frame.workspace;
    workspace_ = result.workspace;
    for (const std::string &fault : result.guardFaults) {
        ADD_FAILURE() << name << ": " << fault;
    }
    return result;
}

}  // namespace su55if::test
