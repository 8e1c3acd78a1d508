// Wall time per call of every scenario, each beside its floor: an empty
// procedure with the same fourteen arguments in a shared library of its own,
// called the same way with the same frame. Derivative zeroing is also set
// beside memset of the same block. Given another build of the library, each
// scenario runs in it too, in the same run. After the runs a table of ratios
// follows (the medians where runs are repeated).
//   build/default/bench/su55if_benchmarks [--baseline=OTHER/libsu55if.so] [--benchmark_...]
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstring>
#include <map>
#include <string>

#include "scenarios.h"

extern "C" su55if_procedure su55if_bench_empty;

namespace {

using namespace su55if::bench;

// Calls through a pointer the compiler cannot see through, as a host does.
void runCalls(benchmark::State &state, const Scenario &scenario, const Library &library,
              su55if_procedure *procedure) {
    Frame frame = scenario.prepare(library);
    su55if_procedure *volatile target = procedure;
    std::int64_t call = 0;
    for (auto _ : state) {
        if (scenario.vary != nullptr) {
            scenario.vary(frame, call++);
        }
        target(frame.realInputs.data(), frame.inputSizes.data(), frame.realOutputs.data(), frame.outputSizes.data(),
               frame.inputOffsets.data(), frame.outputOffsets.data(), &frame.status, nullptr,
               frame.workspace.data(), &frame.workspaceSize, frame.derivatives.data(), &frame.derivativeCount1,
               &frame.derivativeCount2, &frame.callMode);
        benchmark::ClobberMemory();
    }
}

void runMemset(benchmark::State &state, const Scenario &scenario, const Library &library) {
    Frame frame = scenario.prepare(library);
    void *(*volatile fill)(void *, int, std::size_t) = std::memset;
    const std::size_t bytes = frame.derivatives.size() * sizeof(double);
    for (auto _ : state) {
        fill(frame.derivatives.data(), 0, bytes);
        benchmark::ClobberMemory();
    }
}

// Prints the console report and keeps each benchmark's processor time per
// iteration (on a shared machine less disturbed than wall time),
// its median where runs are repeated.
class RatioReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run> &runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const Run &run : runs) {
            const bool median = run.run_type == Run::RT_Aggregate && run.aggregate_name == "median";
            if ((run.run_type == Run::RT_Iteration || median) && !run.error_occurred) {
                nanoseconds_[run.run_name.str()] = run.GetAdjustedCPUTime();
            }
        }
    }

    void printRatios(bool withBaseline) const {
        std::printf("\n%-28s %10s %10s %8s", "scenario", "ns/call", "floor ns", "ratio");
        std::printf(withBaseline ? " %12s %10s\n" : "\n", "baseline ns", "new/base");
        for (const Scenario &scenario : scenarios()) {
            const std::string name = scenario.name;
            printRatio(name, name + "/procedure", name + "/empty", withBaseline ? name + "/baseline" : "");
            if (name == "zero_derivatives_10000") {
                printRatio(name + " vs memset", name + "/procedure", name + "/memset", "");
            }
        }
    }

private:
    double find(const std::string &name) const {
        const auto found = nanoseconds_.find(name);
        return found == nanoseconds_.end() ? 0.0 : found->second;
    }

    void printRatio(const std::string &label, const std::string &measured, const std::string &floor,
                    const std::string &baseline) const {
        const double m = find(measured);
        const double f = find(floor);
        if (m <= 0.0 || f <= 0.0) {
            return;
        }
        std::printf("%-28s %10.2f %10.2f %8.2f", label.c_str(), m, f, m / f);
        const double b = baseline.empty() ? 0.0 : find(baseline);
        if (b > 0.0) {
            std::printf(" %12.2f %10.2f", b, m / b);
        }
        std::printf("\n");
    }

    std::map<std::string, double> nanoseconds_;
};

}  // namespace

int main(int argc, char **argv) {
    // --baseline=PATH: another build of the library, measured beside this one.
    const char *baselinePath = nullptr;
    for (int i = 1; i < argc; ++i) {
        if (std::strncmp(argv[i], "--baseline=", 11) == 0) {
            baselinePath = argv[i] + 11;
            for (int j = i; j < argc; ++j) {
                argv[j] = argv[j + 1];
            }
            --argc;
            break;
        }
    }
    static const Library linked;
    static const Library baseline(baselinePath != nullptr ? baselinePath : "");
    if (baselinePath != nullptr && !baseline.loaded()) {
        std::fprintf(stderr, "cannot load the baseline library %s\n", baselinePath);
        return 2;
    }

    for (const Scenario &scenario : scenarios()) {
        const std::string name = scenario.name;
        benchmark::RegisterBenchmark((name + "/procedure").c_str(), [&scenario](benchmark::State &state) {
            runCalls(state, scenario, linked, linked.procedure(scenario.symbol));
        });
        if (baseline.loaded()) {
            benchmark::RegisterBenchmark((name + "/baseline").c_str(), [&scenario](benchmark::State &state) {
                runCalls(state, scenario, baseline, baseline.procedure(scenario.symbol));
            });
        }
        benchmark::RegisterBenchmark((name + "/empty").c_str(), [&scenario](benchmark::State &state) {
            runCalls(state, scenario, linked, su55if_bench_empty);
        });
        if (name == "zero_derivatives_10000") {
            benchmark::RegisterBenchmark((name + "/memset").c_str(), [&scenario](benchmark::State &state) {
                runMemset(state, scenario, linked);
            });
        }
    }
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
        return 1;
    }
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    reporter.printRatios(baseline.loaded());
    benchmark::Shutdown();
    return 0;
}
