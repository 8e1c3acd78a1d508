// Runs one scenario's procedure a given number of times, for counting the
// instructions executed inside it (bench/count_instructions.sh).
//   su55if_count_driver --list           name, procedure and budget per line
//   su55if_count_driver SCENARIO CALLS
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "scenarios.h"

using namespace su55if::bench;

int main(int argc, char **argv) {
    if (argc == 2 && std::strcmp(argv[1], "--list") == 0) {
        for (const Scenario &scenario : scenarios()) {
            std::printf("%s %s %lld\n", scenario.name, scenario.symbol, static_cast<long long>(scenario.budget));
        }
        return 0;
    }
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s --list | SCENARIO CALLS\n", argv[0]);
        return 2;
    }
    const Scenario *scenario = findScenario(argv[1]);
    const long long calls = std::atoll(argv[2]);
    if (scenario == nullptr || calls < 0) {
        std::fprintf(stderr, "unknown scenario or bad call count: %s %s\n", argv[1], argv[2]);
        return 2;
    }
    const Library library;
    su55if_procedure *procedure = library.procedure(scenario->symbol);
    Frame frame = scenario->prepare(library);
    for (long long i = 0; i < calls; ++i) {
        if (scenario->vary != nullptr) {
            scenario->vary(frame, i);
        }
        frame.call(procedure, frame.callMode);
    }
    // A fatal message or a wrong status would mean the scenario measures
    // something other than it claims.
    const int expectedStatus = std::strcmp(scenario->symbol, "SU55IF_REPTIM") == 0 && calls > 0 ? 1 : 0;
    if (frame.status != expectedStatus) {
        std::fprintf(stderr, "%s: status %d after the calls\n", scenario->name, frame.status);
        return 1;
    }
    return 0;
}
