#include "callkit/procedures.h"

#include <algorithm>
#include <stdexcept>
#include <string>

namespace su55if::procedures {

// The description as data; generated from include/su55if_procedures.json.
std::span<const Procedure> describedProcedures();

namespace {

[[noreturn]] void refuse(const Procedure &procedure, const std::string &what) {
    throw std::invalid_argument(std::string(procedure.name) + ": " + what);
}

int indexOf(const Procedure &procedure, std::span<const Argument> arguments, std::string_view name,
            const char *kind) {
    for (std::size_t k = 0; k < arguments.size(); ++k) {
        if (arguments[k].name == name) {
            return static_cast<int>(k) + 1;
        }
    }
    refuse(procedure, std::string("no ") + kind + " named " + std::string(name));
}

// The number of values of each argument: 1 for a scalar, the given length
// for a vector sized by its own element of the size vector, and the length
// of the argument that owns the element for one that shares it.
std::vector<int> argumentLengths(const Procedure &procedure, std::span<const Argument> arguments,
                                 std::span<const Length> lengths) {
    std::vector<int> result(arguments.size(), 1);
    for (std::size_t k = 0; k < arguments.size(); ++k) {
        const Argument &argument = arguments[k];
        if (!hasOwnSize(arguments, k)) {
            continue;
        }
        const auto given = std::find_if(lengths.begin(), lengths.end(),
                                        [&](const Length &length) { return length.first == argument.name; });
        if (given == lengths.end()) {
            refuse(procedure, "the number of values of " + std::string(argument.name) + " is needed");
        }
        if (given->second < 0) {
            refuse(procedure, "a negative number of values for " + std::string(argument.name));
        }
        result[k] = given->second;
    }
    for (std::size_t k = 0; k < arguments.size(); ++k) {
        const Argument &argument = arguments[k];
        if (argument.source != SizeSource::scalar && argument.sizeIndex != static_cast<int>(k) + 1) {
            result[k] = result[static_cast<std::size_t>(argument.sizeIndex - 1)];
        }
    }
    return result;
}

// Places arguments of the given lengths in `cells` and returns their
// 1-based offsets, in argument order.
std::vector<int> place(const std::vector<int> &lengths, const Placement &placement, std::vector<double> &cells) {
    const auto addGap = [&] {
        for (std::size_t i = 0; i < placement.gap; ++i) {
            cells.push_back(placement.gapValue + static_cast<double>(cells.size()));
        }
    };
    std::vector<int> offsets(lengths.size());
    addGap();
    for (std::size_t n = 0; n < lengths.size(); ++n) {
        const std::size_t k = placement.reversed ? lengths.size() - 1 - n : n;
        offsets[k] = static_cast<int>(cells.size()) + 1;
        cells.insert(cells.end(), static_cast<std::size_t>(lengths[k]), 0.0);
        addGap();
    }
    return offsets;
}

std::span<const double> view(const std::vector<double> &cells, const std::vector<int> &offsets,
                             const std::vector<int> &sizes, std::size_t k) {
    return std::span<const double>(cells).subspan(static_cast<std::size_t>(offsets[k] - 1),
                                                  static_cast<std::size_t>(sizes[k]));
}

}  // namespace

std::span<const Procedure> all() { return describedProcedures(); }

bool hasOwnSize(std::span<const Argument> arguments, std::size_t k) {
    return arguments[k].source != SizeSource::scalar && arguments[k].sizeIndex == static_cast<int>(k) + 1;
}

const Procedure &find(std::string_view name) {
    for (const Procedure &procedure : all()) {
        if (procedure.name == name) {
            return procedure;
        }
    }
    throw std::invalid_argument("no procedure named " + std::string(name));
}

int inputIndex(const Procedure &procedure, std::string_view name) {
    return indexOf(procedure, procedure.inputs, name, "input");
}

int outputIndex(const Procedure &procedure, std::string_view name) {
    return indexOf(procedure, procedure.outputs, name, "output");
}

Frame::Frame(const Procedure &procedure, std::span<const Length> lengths, Placement placement)
    : procedure_(&procedure) {
    for (const Length &length : lengths) {
        const auto named = [&](const Argument &argument) { return argument.name == length.first; };
        if (std::none_of(procedure.inputs.begin(), procedure.inputs.end(), named) &&
            std::none_of(procedure.outputs.begin(), procedure.outputs.end(), named)) {
            refuse(procedure, "no argument named " + std::string(length.first));
        }
    }
    inputSizes = argumentLengths(procedure, procedure.inputs, lengths);
    outputSizes = argumentLengths(procedure, procedure.outputs, lengths);
    inputOffsets = place(inputSizes, placement, realInputs);
    outputOffsets = place(outputSizes, placement, realOutputs);
    // Every procedure gets valid pointers; only the step recorder's
    // workspace holds anything.
    workspace.assign(static_cast<std::size_t>(std::max(procedure.workspace, 1)), 0.0);
    workspaceSize = procedure.workspace;
    derivatives.assign(1, 0.0);
}

std::span<double> Frame::input(int k) {
    if (k < 1 || k > static_cast<int>(inputSizes.size())) {
        refuse(*procedure_, "no input " + std::to_string(k));
    }
    const auto index = static_cast<std::size_t>(k - 1);
    return std::span<double>(realInputs)
        .subspan(static_cast<std::size_t>(inputOffsets[index] - 1), static_cast<std::size_t>(inputSizes[index]));
}

std::span<double> Frame::input(std::string_view name) { return input(inputIndex(*procedure_, name)); }

std::span<const double> Frame::output(int k) const {
    if (k < 1 || k > static_cast<int>(outputSizes.size())) {
        refuse(*procedure_, "no output " + std::to_string(k));
    }
    return view(realOutputs, outputOffsets, outputSizes, static_cast<std::size_t>(k - 1));
}

std::span<const double> Frame::output(std::string_view name) const {
    return output(outputIndex(*procedure_, name));
}

void Frame::set(std::string_view name, double value) { set(name, std::span<const double>(&value, 1)); }

void Frame::set(std::string_view name, std::span<const double> values) {
    const std::span<double> target = input(name);
    if (values.size() != target.size()) {
        refuse(*procedure_, std::string(name) + " takes " + std::to_string(target.size()) + " values, not " +
                                std::to_string(values.size()));
    }
    std::copy(values.begin(), values.end(), target.begin());
}

void Frame::derivativeBlock(int count1, int count2, double fill) {
    derivativeCount1 = count1;
    derivativeCount2 = count2;
    const std::size_t cells =
        count1 > 0 && count2 > 0 ? static_cast<std::size_t>(count1) * static_cast<std::size_t>(count2) : 0;
    derivatives.assign(std::max<std::size_t>(cells, 1), fill);
}

int Frame::call(su55if_procedure *function, double mode) {
    callMode = mode;
    status = statusBefore;
    function(realInputs.data(), inputSizes.data(), realOutputs.data(), outputSizes.data(), inputOffsets.data(),
             outputOffsets.data(), &status, nullptr, workspace.data(), &workspaceSize, derivatives.data(),
             &derivativeCount1, &derivativeCount2, &callMode);
    return status;
}

}  // namespace su55if::procedures
