/* Defines a three-stage schedule with SU55IF_DEFST and checks what it
 * reports; exits 0 when everything is as expected. */
#include <stdio.h>
#include <string.h>

#include <su55if.h>

int main(void) {
    /* Inputs: requested and current durations (3 each), holdSwitch,
     * currentTime, stageNumber, referenceTime. */
    const double inputs[] = {10.0, 20.0, 30.0, 10.0, 20.0, 30.0, 0.0, 0.0, 1.0, 0.0};
    const int inputSizes[] = {3, 3, 1, 1, 1, 1};
    const int inputOffsets[] = {1, 4, 7, 8, 9, 10};
    /* Outputs: stage durations (3), duration of the stage, of the next one,
     * elapsed time, cycle duration. */
    double outputs[7];
    const int outputSizes[] = {3, 1, 1, 1, 1};
    const int outputOffsets[] = {1, 4, 5, 6, 7};
    const double expected[] = {10.0, 20.0, 30.0, 10.0, 20.0, 0.0, 60.0};
    int status = 0;
    double workspace[1] = {0.0};
    const int workspaceSize = 1;
    double derivatives[1] = {0.0};
    const int derivativeCount = 1;
    const double callMode = 0.0;
    int failures = 0;

    memset(outputs, 0xff, sizeof outputs);
    SU55IF_DEFST(inputs, inputSizes, outputs, outputSizes, inputOffsets, outputOffsets, &status, NULL, workspace,
                 &workspaceSize, derivatives, &derivativeCount, &derivativeCount, &callMode);
    if (status != 0) {
        printf("status %d, expected 0\n", status);
        ++failures;
    }
    for (int i = 0; i < 7; ++i) {
        if (outputs[i] != expected[i]) {
            printf("output value %d is %g, expected %g\n", i + 1, outputs[i], expected[i]);
            ++failures;
        }
    }
    if (strcmp(SU55IF_VERSION_STRING, FOUND_VERSION) != 0) {
        printf("header version %s, but the package found is %s\n", SU55IF_VERSION_STRING, FOUND_VERSION);
        ++failures;
    }
    printf("su55if %s (%d.%d.%d): SU55IF_DEFST %s\n", SU55IF_VERSION_STRING, SU55IF_VERSION_MAJOR,
           SU55IF_VERSION_MINOR, SU55IF_VERSION_PATCH, failures == 0 ? "as expected" : "FAILED");
    return failures == 0 ? 0 : 1;
}
