/* A library with the nine exports that ends the process: each procedure
 * hands over to the real library, but SU55IF_DEFST calls exit(0) once the
 * time passes 5. */
#include <dlfcn.h>
#include <stdlib.h>
#include <string.h>

#define SU55IF_BUILDING
#include "su55if.h"

static su55if_procedure *real(const char *name) {
    static void *library;
    if (library == NULL) {
        library = dlopen(SU55IF_LIBRARY_FILE, RTLD_NOW | RTLD_LOCAL);
    }
    void *symbol = dlsym(library, name);
    su55if_procedure *procedure;
    memcpy(&procedure, &symbol, sizeof procedure); /* as POSIX has dlsym's result used */
    return procedure;
}

#define HAND_OVER(name, before)                                                                                \
    SU55IF_API void name(const double *in, const int *inSizes, double *out, const int *outSizes,               \
                         const int *inOffsets, const int *outOffsets, int *status, const void *unused,         \
                         double *workspace, const int *workspaceSize, double *derivatives, const int *count1,  \
                         const int *count2, const double *mode) {                                              \
        before;                                                                                                \
        real(#name)(in, inSizes, out, outSizes, inOffsets, outOffsets, status, unused, workspace, workspaceSize, \
                    derivatives, count1, count2, mode);                                                        \
    }

HAND_OVER(SU55IF_DEFST, if (in[inOffsets[3] - 1] > 5.0) exit(0))
HAND_OVER(SU55IF_CHKST, )
HAND_OVER(SU55IF_UPSTGTIM, )
HAND_OVER(SU55IF_INTTIM, )
HAND_OVER(SU55IF_IINTTIM, )
HAND_OVER(SU55IF_ACTYP, )
HAND_OVER(SU55IF_IACTYP, )
HAND_OVER(SU55IF_REPTIM, )
HAND_OVER(SU55IF_PFNRSWTCH, )
