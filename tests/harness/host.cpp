#include "harness/host.h"

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

#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace su55if_test {

namespace {

constexpr double kInputGuard = -777.125;
constexpr double kOutputGuard = -999.0625;
constexpr double kWorkspaceGuard = -555.5;
constexpr int kIntGuard = -31337;
constexpr std::size_t kGuardCells = 3;

bool sameBits(double a, double b) { return std::memcmp(&a, &b, sizeof a) == 0; }

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

// Opened in binary mode, so that the captured text keeps its bare newlines;
// "D" removes the file when it is closed.
std::FILE *scratchFile() { return std::fopen(temporaryFile().c_str(), "w+bD"); }
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

std::FILE *scratchFile() { return std::tmpfile(); }
#endif

// Captures what the process writes to file descriptor 1.
class StdoutCapture {
public:
    StdoutCapture() {
        std::fflush(stdout);
        file_ = scratchFile();
        if (file_ == nullptr) {
            throw std::runtime_error("cannot create a file to capture standard output");
        }
        saved_ = dup(1);
        dup2(fileno(file_), 1);
    }
    std::string finish() {
        std::fflush(stdout);
        dup2(saved_, 1);
        close(saved_);
        std::rewind(file_);
        std::string text;
        char buffer[4096];
        std::size_t n;
        while ((n = std::fread(buffer, 1, sizeof buffer, file_)) > 0) {
            text.append(buffer, n);
        }
        std::fclose(file_);
        return text;
    }

private:
    std::FILE *file_;
    int saved_;
};

// A vector of values, each argument placed in reverse order between guards.
struct Layout {
    std::vector<double> cells;
    std::vector<int> offsets;  // 1-based, per argument in argument order
    std::vector<bool> isGuard;

    Layout(const std::vector<std::vector<double>> &arguments, double guard) : offsets(arguments.size()) {
        addGuards(guard);
        for (std::size_t k = arguments.size(); k-- > 0;) {
            offsets[k] = static_cast<int>(cells.size() + 1);
            for (double v : arguments[k]) {
                cells.push_back(v);
                isGuard.push_back(false);
            }
            addGuards(guard);
        }
    }
    void addGuards(double guard) {
        for (std::size_t i = 0; i < kGuardCells; ++i) {
            cells.push_back(guard + static_cast<double>(cells.size()));
            isGuard.push_back(true);
        }
    }
    void checkGuards(const std::vector<double> &before, const char *what, std::vector<std::string> &faults) const {
        for (std::size_t i = 0; i < cells.size(); ++i) {
            if (isGuard[i] && !sameBits(cells[i], before[i])) {
                faults.push_back(std::string(what) + " guard at element " + std::to_string(i + 1) + " changed");
            }
        }
    }
    std::vector<double> argument(std::size_t k, std::size_t count) const {
        const auto first = cells.begin() + offsets[k] - 1;
        return {first, first + static_cast<std::ptrdiff_t>(count)};
    }
};

// An int vector with guards after its elements.
std::vector<int> guarded(std::vector<int> values) {
    values.insert(values.end(), kGuardCells, kIntGuard);
    return values;
}

void checkIntGuards(const std::vector<int> &values, std::size_t used, const char *what,
                    std::vector<std::string> &faults) {
    for (std::size_t i = used; i < values.size(); ++i) {
        if (values[i] != kIntGuard) {
            faults.push_back(std::string(what) + " guard changed");
        }
    }
}

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
    const Layout in(inputs_, kInputGuard);
    std::vector<std::vector<double>> unwritten;
    for (std::size_t count : outputCounts_) {
        unwritten.emplace_back(count, kUnwritten);
    }
    Layout out(unwritten, kOutputGuard);
    const std::vector<double> inBefore = in.cells;
    const std::vector<double> outBefore = out.cells;

    const std::int64_t blockSize =
        derivativeCount1_ > 0 && derivativeCount2_ > 0 ? std::int64_t{derivativeCount1_} * derivativeCount2_ : 0;
    std::vector<double> derivatives(static_cast<std::size_t>(blockSize) + kGuardCells, kDerivativeBefore);
    Layout work({workspace_}, kWorkspaceGuard);
    const std::vector<double> workBefore = work.cells;

    const std::vector<int> inputSizes = guarded(inputSizes_);
    const std::vector<int> outputSizes = guarded(outputSizes_);
    const std::vector<int> inputOffsets = guarded(in.offsets);
    const std::vector<int> outputOffsets = guarded(out.offsets);
    std::vector<int> status = guarded({status_});
    const std::vector<int> workspaceSize = guarded({static_cast<int>(workspace_.size())});
    const std::vector<int> count1 = guarded({derivativeCount1_});
    const std::vector<int> count2 = guarded({derivativeCount2_});
    const std::vector<double> mode{callMode};

    su55if_procedure *procedure = library_.procedure(name);
    StdoutCapture capture;
    procedure(in.cells.data(), inputSizes.data(), out.cells.data(), outputSizes.data(), inputOffsets.data(),
              outputOffsets.data(), status.data(), nullptr, work.cells.data() + work.offsets[0] - 1,
              workspaceSize.data(), derivatives.data(), count1.data(), count2.data(), mode.data());

    Result result;
    result.printed = capture.finish();
    result.status = status[0];
    for (std::size_t k = 0; k < outputCounts_.size(); ++k) {
        result.outputs.push_back(out.argument(k, outputCounts_[k]));
    }
    result.derivatives.assign(derivatives.begin(), derivatives.begin() + blockSize);
    result.workspace = work.argument(0, workspace_.size());
    workspace_ = result.workspace;

    in.checkGuards(inBefore, "realInputs", result.guardFaults);
    out.checkGuards(outBefore, "realOutputs", result.guardFaults);
    work.checkGuards(workBefore, "workspace", result.guardFaults);
    for (std::size_t i = static_cast<std::size_t>(blockSize); i < derivatives.size(); ++i) {
        if (!sameBits(derivatives[i], kDerivativeBefore)) {
            result.guardFaults.push_back("derivative guard after the block changed");
        }
    }
    checkIntGuards(status, 1, "status", result.guardFaults);
    for (const std::string &fault : result.guardFaults) {
        ADD_FAILURE() << name << ": " << fault;
    }
    return result;
}

}  // namespace su55if_test
