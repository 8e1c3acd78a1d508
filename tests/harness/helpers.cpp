#include "harness/helpers.h"

#include <cmath>

namespace su55if::test {

bool sameReal(double a, double b) { return (std::isnan(a) && std::isnan(b)) || sameBits(a, b); }

std::vector<double> linkAt(std::size_t length, std::size_t index, double entry) {
    std::vector<double> table(length, 0.0);
    table.at(index - 1) = entry;
    return table;
}

Result defineSchedule(const Library &library, const std::vector<double> &durations, double callMode,
                      std::optional<int> count) {
    Call call(library);
    call.input(durations).input(durations).input(0).input(0).input(1).input(0).output().outputs(4);
    if (count) {
        call.inputSize(1, *count);
    }
    return call.run("SU55IF_DEFST", callMode);
}

Result reportSchedule(const Library &library, double stage, std::size_t slots) {
    Call call(library);
    call.input(std::vector<double>{}).input(std::vector<double>{}).input(0).input(kNaN).input(stage).input(0);
    return call.output(slots).outputs(4).run("SU55IF_DEFST");
}

int stageCountSeen(const Library &library) {
    const double first = reportSchedule(library).out(1, 1);
    for (int stage = -3; stage <= SU55IF_MAX_STAGES; ++stage) {
        if (stage != 0 && sameReal(reportSchedule(library, stage).out(3), first)) {
            return stage;
        }
    }
    return SU55IF_MAX_STAGES + 1;
}

}  // namespace su55if::test
