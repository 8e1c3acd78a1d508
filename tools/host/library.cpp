#include "library.h"

#include <dlfcn.h>
#include <fmt/format.h>
#include <fmt/ranges.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstddef>

#include "host_error.h"

namespace su55if::host {

namespace {

const char *lastDlError() {
    const char *text = dlerror();
    return text != nullptr ? text : "unknown error";
}

std::string executableDirectory() {
    char buffer[PATH_MAX];
    const ssize_t length = readlink("/proc/self/exe", buffer, sizeof buffer - 1);
    if (length <= 0) {
        return {};
    }
    const std::string path(buffer, static_cast<std::size_t>(length));
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash);
}

// Offsets of arguments packed one after another from element 1 on.
std::vector<int> packedOffsets(const std::vector<int> &sizes) {
    std::vector<int> offsets;
    int next = 1;
    for (int size : sizes) {
        offsets.push_back(next);
        next += size;
    }
    return offsets;
}

int totalSize(const std::vector<int> &sizes) {
    int total = 0;
    for (int size : sizes) {
        total += size;
    }
    return total;
}

// An argument as the trace shows it: a scalar as its value, a vector in
// brackets. Shortest round-trip form, so the trace is exact.
std::string argumentText(std::span<const double> values) {
    if (values.size() == 1) {
        return fmt::format("{}", values[0]);
    }
    return fmt::format("[{}]", fmt::join(values, ", "));
}

}  // namespace

Library::Library(const std::string &path) : path_(path) {
    // A name without a slash would be looked up on the system's search path;
    // the user means the file.
    const std::string file = path.find('/') == std::string::npos ? "./" + path : path;
    handle_ = dlopen(file.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (handle_ == nullptr) {
        throw HostError(fmt::format("cannot load the library: {}", lastDlError()));
    }
}

su55if_procedure *Library::resolve(const char *name) const {
    dlerror();
    void *symbol = dlsym(handle_, name);
    if (symbol == nullptr) {
        throw HostError(fmt::format("{} does not export {}: {}", path_, name, lastDlError()));
    }
    return reinterpret_cast<su55if_procedure *>(symbol);
}

std::vector<std::string> defaultLibraryPaths() {
    std::vector<std::string> paths;
    const std::string directory = executableDirectory();
    if (!directory.empty()) {
        paths.push_back(directory + "/libsu55if.so");
        paths.push_back(directory + "/../lib/libsu55if.so");
    }
    paths.emplace_back(SU55IF_BUILT_LIBRARY);
    return paths;
}

std::string chooseLibraryPath(const std::string &requested) {
    if (!requested.empty()) {
        return requested;
    }
    const std::vector<std::string> paths = defaultLibraryPaths();
    for (const std::string &path : paths) {
        if (access(path.c_str(), F_OK) == 0) {
            return path;
        }
    }
    throw HostError(fmt::format("cannot find libsu55if.so (looked for {}); name it with --library PATH",
                                fmt::join(paths, ", ")));
}

Instance::Instance(const Library &library, const char *name, std::vector<int> inputSizes,
                   std::vector<int> outputSizes, std::FILE *callLog)
    : name_(name),
      procedure_(library.resolve(name)),
      inputSizes_(std::move(inputSizes)),
      outputSizes_(std::move(outputSizes)),
      inputOffsets_(packedOffsets(inputSizes_)),
      outputOffsets_(packedOffsets(outputSizes_)),
      realInputs_(static_cast<std::size_t>(totalSize(inputSizes_)), 0.0),
      realOutputs_(static_cast<std::size_t>(totalSize(outputSizes_)), 0.0),
      callLog_(callLog) {}

void Instance::setInput(int k, std::span<const double> values) {
    const auto first = static_cast<std::size_t>(inputOffsets_.at(static_cast<std::size_t>(k - 1)) - 1);
    if (values.size() != static_cast<std::size_t>(inputSizes_.at(static_cast<std::size_t>(k - 1)))) {
        throw std::logic_error(fmt::format("{}: input {} has {} values, not {}", name_, k,
                                           inputSizes_[static_cast<std::size_t>(k - 1)], values.size()));
    }
    std::copy(values.begin(), values.end(), realInputs_.begin() + static_cast<std::ptrdiff_t>(first));
}

std::span<const double> Instance::outputVector(int k) const {
    const auto index = static_cast<std::size_t>(k - 1);
    const auto first = static_cast<std::size_t>(outputOffsets_.at(index) - 1);
    return std::span<const double>(realOutputs_).subspan(first, static_cast<std::size_t>(outputSizes_[index]));
}

double Instance::output(int k, int element) const {
    return outputVector(k)[static_cast<std::size_t>(element - 1)];
}

int Instance::call(double callMode) {
    static const int kNoDerivatives = 0;
    const int workspaceSize = static_cast<int>(workspace_.size());
    status_ = 0;
    procedure_(realInputs_.data(), inputSizes_.data(), realOutputs_.data(), outputSizes_.data(),
               inputOffsets_.data(), outputOffsets_.data(), &status_, nullptr, workspace_.data(),
               &workspaceSize, derivatives_.data(), &kNoDerivatives, &kNoDerivatives, &callMode);
    if (callLog_ != nullptr) {
        logCall(callMode);
    }
    return status_;
}

void Instance::logCall(double callMode) const {
    std::vector<std::string> inputs;
    for (std::size_t k = 0; k < inputSizes_.size(); ++k) {
        inputs.push_back(argumentText(std::span<const double>(realInputs_).subspan(
            static_cast<std::size_t>(inputOffsets_[k] - 1), static_cast<std::size_t>(inputSizes_[k]))));
    }
    std::vector<std::string> outputs;
    for (std::size_t k = 1; k <= outputSizes_.size(); ++k) {
        outputs.push_back(argumentText(outputVector(static_cast<int>(k))));
    }
    fmt::print(callLog_, "{} mode {} in ({}) out ({}) status {}\n", name_, callMode, fmt::join(inputs, "; "),
               fmt::join(outputs, "; "), status_);
}

}  // namespace su55if::host
