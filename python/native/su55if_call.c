/* The Python package's call helper. It calls a procedure of the library with
 * its fourteen arguments from an array of pointers the package prepared once
 * per call frame, so that ctypes converts two or five arguments instead of
 * fourteen. For a procedure whose diagnostics the package captures, C's
 * stdout points at the caller's memory stream for the length of the call,
 * under one lock, which a fork waits for: the child gets C's stdout as it
 * should be and a lock that nobody holds. */
#include <pthread.h>
#include <stddef.h>
#include <stdio.h>

#include "su55if.h"

#define SU55IF_CALL_EXPORT __attribute__((visibility("default")))

typedef su55if_procedure *Procedure;

static pthread_mutex_t capture_lock = PTHREAD_MUTEX_INITIALIZER;
static pthread_once_t fork_handlers_registered = PTHREAD_ONCE_INIT;

static void before_fork(void) { pthread_mutex_lock(&capture_lock); }
static void after_fork(void) { pthread_mutex_unlock(&capture_lock); }
static void register_fork_handlers(void) { pthread_atfork(before_fork, after_fork, after_fork); }

static void call(Procedure procedure, void *const *arguments)
{
    procedure(arguments[0], arguments[1], arguments[2], arguments[3], arguments[4], arguments[5], arguments[6],
              arguments[7], arguments[8], arguments[9], arguments[10], arguments[11], arguments[12], arguments[13]);
}

/* The call, for a procedure that cannot stop a run. */
SU55IF_CALL_EXPORT void su55if_call(Procedure procedure, void *const *arguments)
{
    call(procedure, arguments);
}

/* The call with status set to 0 first and C's stdout pointed at `stream`;
 * 1 when the call wrote to it (`written`, which the stream keeps up to date
 * at every flush, is not 0) or stopped the run, else 0. */
SU55IF_CALL_EXPORT int su55if_call_captured(Procedure procedure, void *const *arguments, int *status, FILE *stream,
                                            const size_t *written)
{
    pthread_once(&fork_handlers_registered, register_fork_handlers);
    pthread_mutex_lock(&capture_lock);
    FILE *saved = stdout;
    *status = 0;
    stdout = stream;
    call(procedure, arguments);
    stdout = saved;
    int look = *written != 0 || *status == SU55IF_STATUS_FATAL;
    pthread_mutex_unlock(&capture_lock);
    return look;
}
