/*
** capture.h - saving the state a failing entry point saw (hidden; not part
** of the exported surface).
**
** Every exported entry point forwards to the user's function between two
** calls of this interface:
**
**     double func_density(int node) {
**         vulmora_capture_before("density", node);
**         return vulmora_capture_after("density", vulmora_impl_density(node));
**     }
**
** (func_externalcompute the same way with its flag as the argument and
** vulmora_capture_after_void). The capture is dormant unless the process
** environment has VULMORA_CAPTURE=<folder>, read at the first call; dormant,
** each hook is one load and one compare. Active, it writes a state file
** (state_format.h) to the folder and names it in one line on stderr when
** the entry point
**   - returns NaN or an infinity (the value is still returned, bit for bit),
**   - crashes (SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGABRT): the file is
**     written with async-signal-safe calls, the previous handlers are put
**     back and the fault happens again (a signal sent is raised again), so
**     the host's handler sees it as it was, the faulting address included,
**   - stops (vulmora_stop): before the process exits, with the stop text,
**   - is named by VULMORA_CAPTURE_AT=<entry>:<node>[:<n>] (the n-th such
**     call, default the first): before the call.
** At most one file per entry point and trigger per process.
**
** Compiles as C and as C++.
*/
#ifndef VULMORA_CAPTURE_H
#define VULMORA_CAPTURE_H

#include <stdarg.h>

#ifdef __cplusplus
extern "C" {
#endif

/* vulmora_capture_mode: 0 before the first call, then one of these. */
#define VULMORA_CAPTURE_DORMANT 1
#define VULMORA_CAPTURE_ACTIVE 2
extern int vulmora_capture_mode;

/* The slow paths behind the inline hooks below. */
void vulmora_capture_enter(const char *entry, int argument);
double vulmora_capture_leave(double result);
void vulmora_capture_leave_void(void);
void vulmora_capture_record_micro(int kind, int index, int node, double value);
void vulmora_capture_record_name(int kind, int index, const char *name);
void vulmora_capture_stop(const char *format, va_list args);

/* Before the user's function: `entry` without func_, `argument` the node
** (or the flag of func_externalcompute). */
static inline void vulmora_capture_before(const char *entry, int argument) {
    if (vulmora_capture_mode != VULMORA_CAPTURE_DORMANT) vulmora_capture_enter(entry, argument);
}

/* After it: returns `result` unchanged, bit for bit. */
static inline double vulmora_capture_after(double result) {
    if (vulmora_capture_mode != VULMORA_CAPTURE_DORMANT) return vulmora_capture_leave(result);
    return result;
}
static inline void vulmora_capture_after_void(void) {
    if (vulmora_capture_mode != VULMORA_CAPTURE_DORMANT) vulmora_capture_leave_void();
}

/* A value the call obtained from the microstructure library (kind 0
** constituent, 1 auxiliary variable). */
static inline void vulmora_capture_micro(int kind, int index, int node, double value) {
    if (vulmora_capture_mode == VULMORA_CAPTURE_ACTIVE)
        vulmora_capture_record_micro(kind, index, node, value);
}

/* A name it obtained (kind as above, global index; name may be null). */
static inline void vulmora_capture_name(int kind, int index, const char *name) {
    if (vulmora_capture_mode == VULMORA_CAPTURE_ACTIVE)
        vulmora_capture_record_name(kind, index, name);
}

#ifdef __cplusplus
}
#endif

#endif
