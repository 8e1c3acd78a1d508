/* A C thread that forks while Python calls the library (test_methods.py
 * loads this with ctypes). start() begins a thread that forks `count` times,
 * one child at a time; each child calls SU55IF_DEFST of the library the
 * test loaded (a schedule of 10 and 20), flushes C's stdout and exits 0 when
 * the call gave a cycle of 30. The parent waits 10 s at most for each child
 * and kills it after that. ended() tells whether the thread has ended;
 * finish() joins it and returns how many children exited 0. */
#include <pthread.h>
#include <signal.h>
#include <stdio.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include "su55if.h"

static su55if_procedure *define_stages;
static int forks, good, over;
static pthread_t thread;

static int child(void)
{
    const double inputs[] = {10, 20, 10, 20, 0, 0, 1, 0};
    const int input_sizes[] = {2, 2, 1, 1, 1, 1}, input_offsets[] = {1, 3, 5, 6, 7, 8};
    const int output_sizes[] = {2, 1, 1, 1, 1}, output_offsets[] = {1, 3, 4, 5, 6};
    double outputs[6] = {0}, workspace[1] = {0}, derivatives[1] = {0}, mode = 0;
    int status = 0, zero = 0;
    define_stages(inputs, input_sizes, outputs, output_sizes, input_offsets, output_offsets, &status, NULL,
                  workspace, &zero, derivatives, &zero, &zero, &mode);
    fflush(stdout);
    return status == 0 && outputs[5] == 30 ? 0 : 1;
}

static int ended_well(pid_t pid)
{
    int status = 0;
    for (int waited = 0; waitpid(pid, &status, WNOHANG) == 0; ++waited) {
        if (waited == 10000) {
            kill(pid, SIGKILL);
            waitpid(pid, &status, 0);
            return 0;
        }
        nanosleep(&(struct timespec){0, 1000000}, NULL);
    }
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

static void *fork_repeatedly(void *unused)
{
    (void)unused;
    for (int k = 0; k < forks; ++k) {
        pid_t pid = fork();
        if (pid == 0)
            _exit(child());
        if (pid > 0)
            good += ended_well(pid);
    }
    __atomic_store_n(&over, 1, __ATOMIC_RELEASE);
    return NULL;
}

__attribute__((visibility("default"))) int start(su55if_procedure *procedure, int count)
{
    define_stages = procedure;
    forks = count;
    good = 0;
    over = 0;
    return pthread_create(&thread, NULL, fork_repeatedly, NULL);
}

__attribute__((visibility("default"))) int ended(void)
{
    return __atomic_load_n(&over, __ATOMIC_ACQUIRE);
}

__attribute__((visibility("default"))) int finish(void)
{
    pthread_join(thread, NULL);
    return good;
}
