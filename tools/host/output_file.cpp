#include "host/output_file.h"

#include <fmt/format.h>

#include "engine/error.h"
#include "engine/text.h"

namespace su55if::host {

using engine::Error;
using engine::printable;

void refuseClashingPaths(const std::vector<std::string> &inputs, const std::vector<std::string> &outputs) {
    std::vector<std::string> seen;  // the inputs, then the outputs checked so far
    for (const std::string &input : inputs) {
        seen.push_back(fileIdentity(input));
    }
    for (std::size_t i = 0; i < outputs.size(); ++i) {
        const std::string id = fileIdentity(outputs[i]);
        for (std::size_t j = 0; j < seen.size(); ++j) {
            if (id.empty() || id != seen[j] || (j < inputs.size() && id.starts_with("name:"))) {
                continue;  // an input that does not exist fails on its own
            }
            throw Error(j < inputs.size() ? fmt::format("will not write {}: it is the input file {}",
                                                            printable(outputs[i]), printable(inputs[j]))
                                              : fmt::format("will not write {} and {}: they are the same file",
                                                            printable(outputs[j - inputs.size()]),
                                                            printable(outputs[i])));
        }
        seen.push_back(id);
    }
    const std::string standardOutput = standardOutputIdentity();
    for (std::size_t j = 0; j < inputs.size(); ++j) {
        if (!standardOutput.empty() && standardOutput == seen[j]) {
            throw Error(fmt::format("will not write to standard output: it is the input file {}", printable(inputs[j])));
        }
    }
}

}  // namespace su55if::host
