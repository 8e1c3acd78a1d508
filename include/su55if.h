/*
 * su55if: stage-schedule procedures for a dynamic process simulator.
 *
 * Every procedure takes the same fourteen arguments, all by address, and
 * returns nothing. Input argument k of a procedure is read from
 * realInputs[inputOffsets[k-1] - 1] on (offsets are 1-based), output
 * argument k is written from realOutputs[outputOffsets[k-1] - 1] on.
 *
 * callMode is truncated to an integer: SU55IF_MODE_OUTPUTS (0) computes
 * outputs, SU55IF_MODE_DERIVATIVES (3) zeroes the derivative block
 * (derivativeCount1 * derivativeCount2 reals), SU55IF_MODE_BOTH (4) does
 * both, any other value does neither.
 *
 * status is left as the host set it, except: SU55IF_STATUS_FATAL (4) after a
 * fatal diagnostic (written to standard output, ending with "Simulation
 * Terminated"), and SU55IF_STATUS_REPTIM (1) after every call of
 * SU55IF_REPTIM. A host must stop the run on SU55IF_STATUS_FATAL.
 *
 * The stage schedule is one table per loaded library, shared by every model
 * instance in the process. Calls may come from several threads at once: the
 * five procedures that use the table (SU55IF_DEFST, SU55IF_CHKST,
 * SU55IF_UPSTGTIM, SU55IF_INTTIM, SU55IF_IINTTIM) each hold it while they
 * read or change it, so each sees one whole schedule; a diagnostic is written
 * whole after the table is released, so a call stuck writing it (or cancelled
 * there) does not keep the table from others. The other four use no shared
 * state. The table is still shared: the host orders calls whose order
 * matters. A hard or symbolic link to the library is the same loaded file
 * with the same table; only a copy under another name gets a table of its
 * own.
 *
 * docs/procedures.md describes each procedure's inputs and outputs.
 */
#ifndef SU55IF_H
#define SU55IF_H

/* SU55IF_VERSION_MAJOR, _MINOR, _PATCH and SU55IF_VERSION_STRING ("X.Y.Z"):
 * the version of the library this header belongs to. */
#include "su55if_version.h"

#ifdef __cplusplus
extern "C" {
#endif

/* The number of stages the stage schedule has room for (slots 1 to 100). */
#define SU55IF_MAX_STAGES 100

/* The values the library writes to status. */
#define SU55IF_STATUS_FATAL 4  /* after a diagnostic: the host must end the run */
#define SU55IF_STATUS_REPTIM 1 /* after every call of SU55IF_REPTIM */

/* The call modes (callMode, truncated toward zero). */
#define SU55IF_MODE_OUTPUTS 0     /* compute and write the outputs */
#define SU55IF_MODE_DERIVATIVES 3 /* zero the derivative block only */
#define SU55IF_MODE_BOTH 4        /* both */

/* SU55IF_API marks the nine exported procedures. Define SU55IF_BUILDING only
 * when building the library itself. */
#if defined(_WIN32)
#  if defined(SU55IF_BUILDING)
#    define SU55IF_API __declspec(dllexport)
#  else
#    define SU55IF_API __declspec(dllimport)
#  endif
#elif defined(SU55IF_BUILDING)
#  define SU55IF_API __attribute__((visibility("default")))
#else
#  define SU55IF_API
#endif

/* The one signature of every procedure. Integers are 32-bit signed; reals are
 * IEEE 754 doubles; argument 8 is never read. */
typedef void su55if_procedure(
    const double *realInputs,      /* 1: the host's input values */
    const int *inputSizes,         /* 2: element k: number of values of input k */
    double *realOutputs,           /* 3: the host's output values */
    const int *outputSizes,        /* 4: element k: number of values of output k */
    const int *inputOffsets,       /* 5: element k: 1-based position of input k */
    const int *outputOffsets,      /* 6: element k: 1-based position of output k */
    int *status,                   /* 7: 4 after a fatal diagnostic; see above */
    const void *unused,            /* 8: never read */
    double *workspace,             /* 9: per-instance reals (SU55IF_REPTIM: 5) */
    const int *workspaceSize,      /* 10: number of reals in workspace; never read */
    double *derivatives,           /* 11: derivative block, only ever zeroed */
    const int *derivativeCount1,   /* 12: first extent of the block (read in modes 3, 4) */
    const int *derivativeCount2,   /* 13: second extent of the block (read in modes 3, 4) */
    const double *callMode);       /* 14: 0 outputs, 3 derivatives, 4 both */

/* Defines the stage schedule and reports it.
 * in:  1 requested durations [inputSizes(1)], 2 current durations
 *      [inputSizes(1)], 3 holdSwitch, 4 currentTime, 5 stageNumber,
 *      6 referenceTime
 * out: 1 stage durations [outputSizes(1)], 2 duration of stage H,
 *      3 duration of the stage after H, 4 elapsed time, 5 cycle duration */
SU55IF_API su55if_procedure SU55IF_DEFST;

/* Takes the durations in force into the schedule.
 * in:  1 current durations [inputSizes(1)], 2 checkSwitch
 * out: 1 durationsChanged (1.0 or 0.0) */
SU55IF_API su55if_procedure SU55IF_CHKST;

/* Sets the duration of one stage and of its partner.
 * in:  1 updateSwitch, 2 stageNumber, 3 newDuration,
 *      4 interactionTable [inputSizes(4)]
 * out: 1 updateResult (0.0 nothing, 1.0 stage only, 2.0 stage and partner) */
SU55IF_API su55if_procedure SU55IF_UPSTGTIM;

/* Checks the interaction table and times a stage against its partner.
 * in:  1 interactionTable [inputSizes(1)], 2 stageNumber, 3 currentTime
 * out: 1 delayForCode2, 2 delayForCode1, 3 actionCode (2, 1, -1, -2 or 0) */
SU55IF_API su55if_procedure SU55IF_INTTIM;

/* As SU55IF_INTTIM, but never reports action code -1. */
SU55IF_API su55if_procedure SU55IF_IINTTIM;

/* Decodes an action code into indicators.
 * in:  1 actionCode
 * out: 1 code 1, 2 code 2, 3 code -2, 4 code -1 (each 1.0 or 0.0) */
SU55IF_API su55if_procedure SU55IF_ACTYP;

/* As SU55IF_ACTYP without the output for code -1.
 * out: 1 code 1, 2 code 2, 3 code -2 */
SU55IF_API su55if_procedure SU55IF_IACTYP;

/* Measures the first period in which a signal is positive.
 * in:  1 signalValue, 2 timeValue; workspace: 5 reals kept by the host
 * out: 1 recordedDuration; status is set to 1 on every call */
SU55IF_API su55if_procedure SU55IF_REPTIM;

/* On/off signal: 1.0 unless switchValue > switchLimit or switchEnable < 0.
 * in:  1 switchLimit, 2 switchValue, 3 switchEnable
 * out: 1 switchSignal */
SU55IF_API su55if_procedure SU55IF_PFNRSWTCH;

#ifdef __cplusplus
}
#endif

#endif /* SU55IF_H */
