// What the parts of the library's fuzzing model share: the report of a failed
// check (FUZZ_CHECK), the reference readings of reals as integers, one call
// as the host fills it (Call) and what came of it (Outcome), and the
// expectations the procedures' checks are written in. library_model_call.cpp
// lays out and makes the calls, library_model_rules.cpp checks them,
// library_model_reference.cpp holds the readings and expectations, and
// library_model.cpp plays the host. Only these files include this header;
// the fuzz targets see library_model.h.
#pragma once

#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <string>
#include <vector>

#include "callkit/record_capture.h"
#include "harness/helpers.h"
#include "library_model.h"
#include "schedule/stage_table.h"
#include "su55if.h"

namespace su55if::fuzz {

using su55if::StageTable;
using test::kInf;
using test::kNaN;
using test::sameBits;

constexpr std::int32_t kMaxStages = SU55IF_MAX_STAGES;

inline double fromBits(std::uint64_t bits) {
    double value;
    std::memcpy(&value, &bits, sizeof value);
    return value;
}

// ---------------------------------------------------------------------------
// Failure reporting (library_model_reference.cpp)

// What the call being checked was, for the report of a failed check.
struct Context {
    const char *procedure = "";
    int call = 0;
    double callMode = 0.0;
};
extern Context context;

[[noreturn]] __attribute__((format(printf, 1, 2))) void fail(const char *format, ...);

#define FUZZ_CHECK(condition, ...) \
    do {                           \
        if (!(condition)) {        \
            fail(__VA_ARGS__);     \
        }                          \
    } while (0)

// ---------------------------------------------------------------------------
// Reference readings of reals as integers (library_model_reference.cpp)

std::int32_t referenceTruncate(double x);
std::int32_t referenceRound(double x);
std::int32_t referenceRoundMagnitude(double x);
bool isSlot(std::int64_t stage);
double referenceSum(const StageTable &table, std::int64_t first, std::int64_t last, double *magnitude);
bool closeToSum(double actual, double reference, double magnitude);

// ---------------------------------------------------------------------------
// One call and its outcome (library_model_call.cpp)

su55if::callkit::RecordCapture &capture();

struct Call {
    Procedure procedure = Procedure::PFNRSWTCH;
    std::vector<std::vector<double>> inputs;
    std::vector<std::size_t> outputCounts;
    std::vector<int> outputSizes;   // as declared; DEFST reads element 1
    std::vector<double> workspace;  // REPTIM: 5 reals or more
    int count1 = 0;
    int count2 = 0;
    double callMode = 0.0;
    int status = 0;
    std::uint32_t layoutSeed = 1;
};

struct Outcome {
    std::vector<std::vector<double>> outputs;
    std::vector<std::vector<bool>> written;
    std::vector<double> workspace;
    int status = 0;
    bool fatal = false;
    std::vector<std::string> records;
    StageTable before{};
    StageTable after{};
    bool derivativesZeroed = false;
    bool derivativesUntouched = false;
    bool derivativeBlock = false;  // the call mode asked for zeroing and both extents are positive

    bool anyWritten() const {
        for (const auto &argument : written) {
            for (bool w : argument) {
                if (w) {
                    return true;
                }
            }
        }
        return false;
    }
    double out(std::size_t k, std::size_t element = 0) const { return outputs[k - 1][element]; }
    bool wrote(std::size_t k, std::size_t element = 0) const { return written[k - 1][element]; }
};

bool sameTable(const StageTable &a, const StageTable &b);
bool asksOutputs(double callMode);
bool asksDerivatives(double callMode);
Outcome perform(const Call &call);

// ---------------------------------------------------------------------------
// Diagnostic records and other expectations (library_model_reference.cpp)

struct Item {
    const char *text;  // null for an integer item
    std::int64_t value;
};

Item text(const char *t);
Item integer(std::int64_t v);
void expectRecords(const Outcome &o, std::initializer_list<std::initializer_list<Item>> records);
void expectUnchangedTable(const Outcome &o, const char *why);
void expectNothingWritten(const Outcome &o, const char *why);
void expectFlag(double value, const char *what);
void expectDerivativesZeroed(const Outcome &o);

// ---------------------------------------------------------------------------
// What each procedure must do (library_model_rules.cpp)

void checkProcedure(const Call &c, const Outcome &o);

}  // namespace su55if::fuzz
