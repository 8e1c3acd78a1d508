// The nine exported procedures. Each locates its arguments in the host's
// vectors, converts the call mode and hands over to its body. The five that
// read or write the stage table hold it (TableLock) while their body runs;
// a diagnostic the body gathered is printed only after the table is released,
// before the procedure returns. The other four keep no shared state and take
// no lock.
#include "su55if.h"

#include "frame/frame.h"
#include "interactions/interactions.h"
#include "schedule/schedule.h"
#include "schedule/stage_table.h"
#include "timing/timing.h"

using namespace su55if;

// The one definition header of every export; the declarations in su55if.h make
// the compiler check each definition against the shared signature.
#define SU55IF_PROCEDURE(name)                                                                         \
    extern "C" SU55IF_API void name(                                                                 \
        [[maybe_unused]] const double *realInputs, [[maybe_unused]] const int *inputSizes,           \
        [[maybe_unused]] double *realOutputs, [[maybe_unused]] const int *outputSizes,               \
        [[maybe_unused]] const int *inputOffsets, [[maybe_unused]] const int *outputOffsets,         \
        [[maybe_unused]] int *status, [[maybe_unused]] const void *unused,                           \
        [[maybe_unused]] double *workspace, [[maybe_unused]] const int *workspaceSize,               \
        double *derivatives, const int *derivativeCount1, const int *derivativeCount2,               \
        const double *callMode)

#define IN(k) argumentAt(realInputs, inputOffsets, k)
#define OUT(k) argumentAt(realOutputs, outputOffsets, k)
#define TAIL CallTail{truncateToInt(*callMode), derivatives, derivativeCount1, derivativeCount2}

SU55IF_PROCEDURE(SU55IF_DEFST) {
    Diagnostic diagnostic(status);
    {
        const TableLock table;
        defineStages(IN(1), IN(2), IN(3), IN(4), IN(5), IN(6), &inputSizes[0], OUT(1), &outputSizes[0],
                     OUT(2), OUT(3), OUT(4), OUT(5), diagnostic, TAIL);
    }
    diagnostic.print();
}

SU55IF_PROCEDURE(SU55IF_CHKST) {
    Diagnostic diagnostic(status);
    {
        const TableLock table;
        checkStages(IN(1), &inputSizes[0], IN(2), OUT(1), diagnostic, TAIL);
    }
    diagnostic.print();
}

SU55IF_PROCEDURE(SU55IF_UPSTGTIM) {
    // Never fatal: nothing to print.
    const TableLock table;
    updateStageDuration(IN(1), IN(2), IN(3), IN(4), &inputSizes[3], OUT(1), TAIL);
}

SU55IF_PROCEDURE(SU55IF_INTTIM) {
    Diagnostic diagnostic(status);
    {
        const TableLock table;
        timeInteraction(IN(1), &inputSizes[0], IN(2), IN(3), OUT(1), OUT(2), OUT(3), diagnostic,
                        TimingVariant::standard, TAIL);
    }
    diagnostic.print();
}

SU55IF_PROCEDURE(SU55IF_IINTTIM) {
    Diagnostic diagnostic(status);
    {
        const TableLock table;
        timeInteraction(IN(1), &inputSizes[0], IN(2), IN(3), OUT(1), OUT(2), OUT(3), diagnostic,
                        TimingVariant::ignoresTimeForPositiveLinks, TAIL);
    }
    diagnostic.print();
}

SU55IF_PROCEDURE(SU55IF_ACTYP) { decodeActionType(IN(1), OUT(1), OUT(2), OUT(3), OUT(4), TAIL); }

SU55IF_PROCEDURE(SU55IF_IACTYP) {
    // No output for code -1: its flag goes to a scratch value.
    double unusedFlag = 0.0;
    decodeActionType(IN(1), OUT(1), OUT(2), OUT(3), &unusedFlag, TAIL);
}

SU55IF_PROCEDURE(SU55IF_REPTIM) { recordStepDuration(IN(1), IN(2), OUT(1), workspace, status, TAIL); }

SU55IF_PROCEDURE(SU55IF_PFNRSWTCH) { switchSignal(IN(1), IN(2), IN(3), OUT(1), TAIL); }
