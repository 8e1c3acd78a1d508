/* The floor for the wall-time benchmarks: a procedure with the library's
 * fourteen-argument signature that does nothing, in a shared library of its
 * own so that it is called exactly as the real procedures are. */
#include "su55if.h"

__attribute__((visibility("default"))) void su55if_bench_empty(
    const double *realInputs, const int *inputSizes, double *realOutputs, const int *outputSizes,
    const int *inputOffsets, const int *outputOffsets, int *status, const void *unused, double *workspace,
    const int *workspaceSize, double *derivatives, const int *derivativeCount1, const int *derivativeCount2,
    const double *callMode) {
    (void)realInputs, (void)inputSizes, (void)realOutputs, (void)outputSizes, (void)inputOffsets;
    (void)outputOffsets, (void)status, (void)unused, (void)workspace, (void)workspaceSize;
    (void)derivatives, (void)derivativeCount1, (void)derivativeCount2, (void)callMode;
}
