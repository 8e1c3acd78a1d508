// Wall time per call of every scenario, each beside its floor: an empty
// procedure with the same fourteen arguments in a shared library of its own,
// called the same way with the same frame. Derivative zeroing is also set
// beside memset of the same block. After the runs a table of ratios follows.
//   build/default/bench/su55if_benchmarks [--benchmark_filter=...]
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstring>
#include <map>
#include <string>

#include "scenarios.h"

extern "C" su55if_procedure su55if_bench_empty;

namespace {

using namespace su55if_bench;

// Calls through a pointer the compiler cannot see through, as a host does.
void runCalls(benchmark::State &state, const Scenario &scenario, su55if_procedure *procedure) {
    Frame frame;
    scenario.prepare(frame);
    su55if_procedure *volatile target = procedure;
    std::int64_t call = 0;
    for (auto _ : state) {
        if (scenario.vary != nullptr) {
            scenario.vary(frame, call++);
        }
        target(frame.inputs.data(), frame.inputSizes.data(), frame.outputs.data(), frame.outputSizes.data(),
               frame.inputOffsets.data(), frame.outputOffsets.data(), &frame.status, nullptr,
               frame.workspace.data(), &frame.workspaceSize, frame.derivatives.data(), &frame.derivativeCount1,
               &frame.derivativeCount2, &frame.callMode);
        benchmark::ClobberMemory();
    }
}

void runMemset(benchmark::State &state, const Scenario &scenario) {
    Frame frame;
    scenario.prepare(frame);
    void *(*volatile fill)(void *, int, std::size_t) = std::memset;
    const std::size_t bytes = frame.derivatives.size() * sizeof(double);
    for (auto _ : state) {
        fill(frame.derivatives.data(), 0, bytes);
        benchmark::ClobberMemory();
    }
}

// Prints the console report and keeps each run's time per iteration.
class RatioReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run> &runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const Run &run : runs) {
            if (run.run_type == Run::RT_Iteration && !run.error_occurred) {
                nanoseconds_[run.benchmark_name()] = run.GetAdjustedRealTime();
            }
        }
    }

    void printRatios() const {
        std::printf("\n%-26s %12s %12s %8s\n", "scenario", "ns/call", "floor ns", "ratio");
        for (const Scenario &scenario : scenarios()) {
            const std::string name = scenario.name;
            printRatio(name, name + "/procedure", name + "/empty");
            if (name == "zero_derivatives_10000") {
                printRatio(name + " vs memset", name + "/procedure", name + "/memset");
            }
        }
    }

private:
    void printRatio(const std::string &label, const std::string &measured, const std::string &floor) const {
        const auto m = nanoseconds_.find(measured);
        const auto f = nanoseconds_.find(floor);
        if (m == nanoseconds_.end() || f == nanoseconds_.end() || f->second <= 0.0) {
            return;
        }
        std::printf("%-26s %12.2f %12.2f %8.2f\n", label.c_str(), m->second, f->second, m->second / f->second);
    }

    std::map<std::string, double> nanoseconds_;
};

}  // namespace

int main(int argc, char **argv) {
    for (const Scenario &scenario : scenarios()) {
        const std::string name = scenario.name;
        benchmark::RegisterBenchmark((name + "/procedure").c_str(), [&scenario](benchmark::State &state) {
            runCalls(state, scenario, scenario.procedure);
        });
        benchmark::RegisterBenchmark((name + "/empty").c_str(), [&scenario](benchmark::State &state) {
            runCalls(state, scenario, su55if_bench_empty);
        });
        if (name == "zero_derivatives_10000") {
            benchmark::RegisterBenchmark((name + "/memset").c_str(),
                                         [&scenario](benchmark::State &state) { runMemset(state, scenario); });
        }
    }
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
        return 1;
    }
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    reporter.printRatios();
    benchmark::Shutdown();
    return 0;
}
