#include "harness/schedule.h"

#include <cmath>
#include <cstring>
#include <limits>

namespace su55if_test {

Result defineSchedule(const Library &library, const std::vector<double> &durations, double callMode,
                      std::optional<int> count) {
    Call call(library);
    call.input(durations).input(durations).input(0).input(0).input(1).input(0).output().outputs(4);
    if (count) {
        call.inputSize(1, *count);
    }
    return call.run("SU55IF_DEFST", callMode);
}

Result reportSchedule(const Library &library, double stage) {
    constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
    Call call(library);
    call.input(std::vector<double>{}).input(std::vector<double>{}).input(0).input(kNaN).input(stage).input(0);
    return call.output(100).outputs(4).run("SU55IF_DEFST");
}

bool sameReal(double a, double b) {
    return (std::isnan(a) && std::isnan(b)) || std::memcmp(&a, &b, sizeof a) == 0;
}

int stageCountSeen(const Library &library) {
    const double first = reportSchedule(library).out(1, 1);
    for (int stage = -3; stage <= 100; ++stage) {
        if (stage != 0 && sameReal(reportSchedule(library, stage).out(3), first)) {
            return stage;
        }
    }
    return 101;
}

}  // namespace su55if_test
