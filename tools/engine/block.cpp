#include "engine/block.h"

#include <fmt/format.h>
#include <fmt/ranges.h>

#include <cstddef>

namespace su55if::engine {

namespace {

// An argument as the trace shows it: a scalar as its value, a vector in
// brackets. Shortest round-trip form, so the trace is exact.
std::string argumentText(std::span<const double> values) {
    if (values.size() == 1) {
        return fmt::format("{}", values[0]);
    }
    return fmt::format("[{}]", fmt::join(values, ", "));
}

}  // namespace

Block::Block(const callkit::Binding &library, std::string_view procedure,
             std::initializer_list<procedures::Length> lengths, std::FILE *callLog)
    : library_(library),
      frame_(procedure, lengths),
      function_(library.resolve(procedure)),
      callLog_(callLog) {}

int Block::call() {
    // The library prints its records with the C library's stdout; they go to
    // the record capture, so that the caller's standard output holds data
    // alone.
    callkit::RecordCapture &records = library_.recordCapture();
    records.begin();
    library_.callStarting(name());
    const int status = frame_.call(function_, SU55IF_MODE_OUTPUTS);
    library_.callReturned();
    records.end();
    if (callLog_ != nullptr) {
        logCall();
    }
    return status;
}

void Block::logCall() {
    std::vector<std::string> inputs;
    std::vector<std::string> outputs;
    for (std::size_t k = 1; k <= frame_.inputSizes.size(); ++k) {
        inputs.push_back(argumentText(frame_.input(static_cast<int>(k))));
    }
    for (std::size_t k = 1; k <= frame_.outputSizes.size(); ++k) {
        outputs.push_back(argumentText(frame_.output(static_cast<int>(k))));
    }
    fmt::print(callLog_, "{} mode {} in ({}) out ({}) status {}\n", name(), frame_.callMode, fmt::join(inputs, "; "),
               fmt::join(outputs, "; "), frame_.status);
}

}  // namespace su55if::engine
