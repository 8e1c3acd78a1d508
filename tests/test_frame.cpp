// The call frame as every exported procedure shows it: call modes, the
// derivative block, status and argument location.
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <limits>
#include <utility>
#include <vector>

#include "harness/helpers.h"

namespace su55if::test {
namespace {


// A call of each procedure that succeeds and writes all its outputs in the
// call modes that ask for outputs, on a freshly loaded library.
struct Procedure {
    const char *name;
    std::function<void(Call &)> arrange;
};

const Procedure kProcedures[] = {
    {"SU55IF_DEFST",
     [](Call &c) { c.input({10, 20}).input({10, 20}).input(1).input(5).input(1).input(0).output(2).outputs(4); }},
    {"SU55IF_CHKST", [](Call &c) { c.input({1, 2}).input(0).output(); }},
    {"SU55IF_UPSTGTIM", [](Call &c) { c.input(0).input(1).input(3).input({0}).output(); }},
    {"SU55IF_INTTIM", [](Call &c) { c.input({0}).input(1).input(5).outputs(3); }},
    {"SU55IF_IINTTIM", [](Call &c) { c.input({0}).input(1).input(5).outputs(3); }},
    {"SU55IF_ACTYP", [](Call &c) { c.input(1).outputs(4); }},
    {"SU55IF_IACTYP", [](Call &c) { c.input(1).outputs(3); }},
    {"SU55IF_REPTIM", [](Call &c) { c.input(1).input(2).output().workspace({0, 0, 0, 0, 0}); }},
    {"SU55IF_PFNRSWTCH", [](Call &c) { c.input(5).input(4).input(1).output(); }},
};

bool allWritten(const Result &r) {
    for (const auto &argument : r.outputs) {
        for (double v : argument) {
            if (v == kUnwritten) {
                return false;
            }
        }
    }
    return true;
}

struct ModeCase {
    double callMode;
    bool outputs;
    bool derivatives;
};

TEST(CallFrame, CallModeSelectsOutputsAndDerivativesInEveryProcedure) {
    const ModeCase modes[] = {
        {0.0, true, false},    {4.0, true, true},     {4.9, true, true},   {3.0, false, true},
        {3.999, false, true},  {-0.7, true, false},   {1.0, false, false}, {2.0, false, false},
        {5.0, false, false},   {-1.0, false, false},  {kNaN, false, false},
        {std::numeric_limits<double>::infinity(), false, false}, {4294967300.0, false, false},
    };
    for (const Procedure &procedure : kProcedures) {
        for (const ModeCase &mode : modes) {
            SCOPED_TRACE(std::string(procedure.name) + " callMode " + std::to_string(mode.callMode));
            Library library;
            Call call(library);
            procedure.arrange(call);
            call.derivatives(3, 4);
            const Result r = call.run(procedure.name, mode.callMode);
            EXPECT_EQ(allWritten(r), mode.outputs);
            EXPECT_EQ(r.outputsUntouched(), !mode.outputs);
            EXPECT_EQ(r.derivativesZeroed(), mode.derivatives);
            EXPECT_EQ(r.derivativesUntouched(), !mode.derivatives);
            EXPECT_EQ(r.status, std::string(procedure.name) == "SU55IF_REPTIM" ? SU55IF_STATUS_REPTIM : kStatusBefore);
            EXPECT_EQ(r.printed, "");
        }
    }
}

TEST(CallFrame, DerivativeBlockIsZeroedOnlyWhenBothExtentsArePositive) {
    struct Extents {
        int count1;
        int count2;
        bool zeroed;
    };
    // The harness places guard values right after count1 * count2 reals, so a
    // longer fill is caught there.
    const Extents cases[] = {{3, 4, true}, {1, 1, true}, {0, 5, false}, {5, 0, false},
                             {5, -1, false}, {-3, -4, false}, {1000, 10, true}};
    for (const Procedure &procedure : kProcedures) {
        for (const Extents &e : cases) {
            SCOPED_TRACE(std::string(procedure.name) + " " + std::to_string(e.count1) + "x" + std::to_string(e.count2));
            Library library;
            Call call(library);
            procedure.arrange(call);
            call.derivatives(e.count1, e.count2);
            const Result r = call.run(procedure.name, SU55IF_MODE_BOTH);
            if (e.zeroed) {
                EXPECT_EQ(r.derivatives.size(), static_cast<std::size_t>(e.count1 * e.count2));
                EXPECT_TRUE(r.derivativesZeroed());
                for (double d : r.derivatives) {
                    EXPECT_FALSE(std::signbit(d));
                }
            }
        }
    }
}

// Extents whose block would not fit the address space: no such block exists,
// so nothing is written (a wrapped byte count would zero the first reals).
// Called directly: the harness would allocate the block. Six scalar inputs
// and five scalar outputs, in call mode 3, leave every procedure idle.
TEST(CallFrame, DerivativeExtentsBeyondTheAddressSpaceWriteNothing) {
    const std::pair<int, int> cases[] = {{1263665316, 1824726041}, {2147483647, 2147483647}};
    Library library;
    for (const Procedure &procedure : kProcedures) {
        for (const auto &[count1, count2] : cases) {
            SCOPED_TRACE(std::string(procedure.name) + " " + std::to_string(count1) + "x" + std::to_string(count2));
            std::vector<double> inputs(6, 1.0);
            std::vector<double> outputs(5, kUnwritten);
            std::vector<double> workspace(5, 0.0);
            std::vector<double> block(16, kDerivativeBefore);
            const std::vector<int> sizes{1, 1, 1, 1, 1, 1};
            const std::vector<int> offsets{1, 2, 3, 4, 5, 6};
            const int workspaceSize = 5;
            const double mode = 3.0;
            int status = kStatusBefore;
            library.procedure(procedure.name)(inputs.data(), sizes.data(), outputs.data(), sizes.data(),
                                              offsets.data(), offsets.data(), &status, nullptr, workspace.data(),
                                              &workspaceSize, block.data(), &count1, &count2, &mode);
            for (double v : block) {
                EXPECT_EQ(v, kDerivativeBefore);
            }
            EXPECT_EQ(status, std::string(procedure.name) == "SU55IF_REPTIM" ? 1 : kStatusBefore);
        }
    }
}

TEST(CallFrame, StatusIsLeftAsTheHostSetItOnSuccess) {
    for (const Procedure &procedure : kProcedures) {
        for (int before : {0, 3, -8}) {
            Library library;
            Call call(library);
            procedure.arrange(call);
            call.status(before);
            const Result r = call.run(procedure.name, 0.0);
            EXPECT_EQ(r.status, std::string(procedure.name) == "SU55IF_REPTIM" ? SU55IF_STATUS_REPTIM : before)
                << procedure.name;
        }
    }
}

}  // namespace
}  // namespace su55if::test
