// Bodies of the interaction procedures: table checks, timing between
// interacting stages and decoding of action codes.
#pragma once

#include "frame/frame.h"

namespace su55if {

// The two timing procedures differ only in these points.
enum class TimingVariant {
    standard,  // reports -1 while the wrap-around span is not yet exceeded
    ignoresTimeForPositiveLinks,  // never reports -1; its stage diagnostic has no count record
};

// Checks the stage number against the schedule and, at the initial point,
// the interaction table. Returns false after a fatal diagnostic (status 4).
bool checkInteractionInputs(const double *interactionTable, const int *tableSize,
                            const double *stageNumber, const double *currentTime, Diagnostic &diagnostic,
                            TimingVariant variant);

// Checks, then reports the span to the partner stage and the action code.
void timeInteraction(const double *interactionTable, const int *tableSize, const double *stageNumber,
                     const double *currentTime, double *delayForCode2Out, double *delayForCode1Out,
                     double *actionCodeOut, Diagnostic &diagnostic, TimingVariant variant,
                     const CallTail &tail);

// Indicator outputs for an action code, each 1.0 or 0.0.
void decodeActionType(const double *actionCode, double *flagForCode1Out, double *flagForCode2Out,
                      double *flagForCodeMinus2Out, double *flagForCodeMinus1Out, const CallTail &tail);

}  // namespace su55if
