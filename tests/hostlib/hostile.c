/*
** hostile.c - entry points that misbehave in the ways the emulator must
** survive and name: a hang (at a node, or at the first call), a background process holding stdout,
*a write
** into the host's arrays, output before a crash, a flood of output, text
** on stderr, microstructure indices beyond the model and, on request, a
** write into a named host array at a chosen step. Which node each
** one fails at is fixed, so the reports can be checked.
*/
#include <stdio.h>
#include <stdlib.h>
#include <unistd.h>
#include <string.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/resource.h>

#include "getVar.h"

/* The host's arrays, as the exchange block exports them. */
extern double *x_cord;
extern int *mat_id;
extern float *el_vol, *t1;

/* Never returns at node 20. */
double func_density(int node) {
    volatile int forever = 1;
    if (node == 20)
        while (forever) {
        }
    return 2.4;
}

/* With VULMORA_TEST_HANG_FIRST set, never returns from its first call
** (the survey's look at it included); else a constant. */
double func_masssourceflowrate(int node) {
    volatile int forever = getenv("VULMORA_TEST_HANG_FIRST") != NULL;
    (void)node;
    while (forever) {
    }
    return 0.5;
}

/* With VULMORA_TEST_FORK set, forks the process at node 3 of its first
** step; the copy returns 99 into whatever called it, the original 1. */
double func_vyimposed(int node) {
    static int forked = 0;
    if (node == 3 && !forked && getenv("VULMORA_TEST_FORK")) {
        forked = 1;
        if (fork() == 0) return 99.0;
    }
    return 1.0;
}

/* Leaves a process behind that holds the worker's stdout for 30 s (its
** seconds VULMORA_TEST_SLEEP, so that a test can find its own). */
double func_emissivity(int node) {
    static int started = 0;
    if (!started) {
        const char *seconds = getenv("VULMORA_TEST_SLEEP");
        char command[64];
        started = 1;
        snprintf(command, sizeof command, "sleep %.20s &",
                 seconds && strspn(seconds, "0123456789.") == strlen(seconds) ? seconds : "30");
        if (system(command) != 0) return -1.0;
    }
    return 0.3 + 0.0 * node;
}

/* Writes into the host's coordinates at node 9. */
double func_heatflux(int node) {
    if (node == 9) x_cord[0] = 999.0;
    return 1.0;
}

/* Prints a line, then crashes at node 4 of step 2. */
double func_convehtransfer(int node) {
    static int calls = 0;
    int *volatile nowhere = NULL;
    if (++calls > getNnod() && node == 4) {
        printf("last words at node %d\n", node);
        return (double)*nowhere;
    }
    return 10.0;
}

/* Prints 201 bytes at every call. */
double func_interhtransfer(int node) {
    int k;
    for (k = 0; k < 19; ++k)
        fputs("0123456789", stdout);
    printf("node %5d\n", node % 100000);
    return 0.5;
}

/* A note on stderr at the first call, then fine. */
double func_texternal(int node) {
    if (node == 1) fprintf(stderr, "texternal: using the default table\n");
    return 300.0;
}

/* A constituent index beyond the model's table. */
double func_yieldstress(int node) {
    (void)node;
    return getFraction(100);
}

/* An auxiliary index far beyond it. */
double func_mechprop2(int node) {
    (void)node;
    return getMicro(1000000);
}

/* Fills the file system of the path in VULMORA_TEST_FILL at its first call
** (or after VULMORA_TEST_FILL_AFTER calls), as another program might while
** the run goes on. */
double func_xtranslation(int node) {
    static int filled = 0;
    static long calls = 0;
    const char *path = getenv("VULMORA_TEST_FILL");
    const char *after = getenv("VULMORA_TEST_FILL_AFTER");
    if (!filled && path && (!after || ++calls > atol(after))) {
        FILE *f = fopen(path, "wb");
        static const char block[4096];
        filled = 1;
        while (f && fwrite(block, 1, sizeof block, f) == sizeof block) {
        }
        if (f) fclose(f);
    }
    return 0.0 * node;
}

/* Make the page holding `p` writable, as a library might before it writes
** into memory it was given read-only. */
static void unprotect(const void *p) {
    const unsigned long page = (unsigned long)sysconf(_SC_PAGESIZE);
    mprotect((void *)((unsigned long)p & ~(page - 1)), page, PROT_READ | PROT_WRITE);
}

/* With VULMORA_TEST_WRITE="<array>:<step>" (x_cord, mat_id, el_vol or t1),
** reads entry 5 of that host array at every call (so it is filled from
** the first step on) and writes into it at node 3 of that step; with
** ":mprotect" after the step, makes its page writable first; with
** ":opened", makes it writable at node 3 of step 1 (and writes nothing
** then), as if the page stayed so. Without it, a constant. Steps are
** counted by calls, every node once a step. */
double func_vximposed(int node) {
    static int calls = 0;
    const char *what = getenv("VULMORA_TEST_WRITE");
    const char *colon = what ? strchr(what, ':') : NULL;
    const int step = calls++ / getNnod() + 1;
    volatile double seen = 0.0;
    if (!colon) return 0.0;
    if (!strncmp(what, "x_cord:", 7)) seen = x_cord[5];
    if (!strncmp(what, "mat_id:", 7)) seen = mat_id[5];
    if (!strncmp(what, "el_vol:", 7)) seen = el_vol[5];
    if (!strncmp(what, "t1:", 3)) seen = t1[5];
    (void)seen;
    if (node == 3 && step == 1 && strstr(colon, ":opened")) {
        if (!strncmp(what, "x_cord:", 7)) unprotect(x_cord + 5);
        if (!strncmp(what, "mat_id:", 7)) unprotect(mat_id + 5);
    }
    if (node != 3 || atoi(colon + 1) != step) return 0.0;
    if (strstr(colon, ":mprotect")) {
        if (!strncmp(what, "x_cord:", 7)) unprotect(x_cord + 5);
        if (!strncmp(what, "mat_id:", 7)) unprotect(mat_id + 5);
        if (!strncmp(what, "el_vol:", 7)) unprotect(el_vol + 5);
        if (!strncmp(what, "t1:", 3)) unprotect(t1 + 5);
    }
    if (!strncmp(what, "x_cord:", 7)) x_cord[5] = -1.0;
    if (!strncmp(what, "mat_id:", 7)) mat_id[5] = 99;
    if (!strncmp(what, "el_vol:", 7)) el_vol[5] = -1.0f;
    if (!strncmp(what, "t1:", 3)) t1[5] = -1.0f;
    return 0.0;
}

/* With VULMORA_TEST_INTERFERE set, does one thing at its first call to its
** own process, to the emulator or to the library's file:
**   "replace:<from>:<to>"  renames <from> over <to>, as a rebuild does;
**   "append:<path>"        appends a byte to <path>, a rewrite in place;
**   "fsize"                lowers its file size limit to 0;
**   "term"                 sends SIGTERM to its parent, the emulator;
**   "stop"                 stops its parent with SIGSTOP;
**   "devnull"              puts /dev/null on every descriptor, as code
**                          that daemonises does;
**   "closeall"             closes every descriptor;
**   "daemon:<path>"        starts a daemon (two forks, a new session) that
**                          writes <path> two seconds later.
** Without it, a constant. */
double func_ztranslation(int node) {
    static int done = 0;
    const char *what = getenv("VULMORA_TEST_INTERFERE");
    if (!what || done) return 0.0 * node;
    done = 1;
    if (!strncmp(what, "replace:", 8)) {
        char from[1024];
        const char *to = strchr(what + 8, ':');
        if (to && (size_t)(to - what - 8) < sizeof from) {
            memcpy(from, what + 8, (size_t)(to - what - 8));
            from[to - what - 8] = 0;
            rename(from, to + 1);
        }
    } else if (!strncmp(what, "append:", 7)) {
        FILE *f = fopen(what + 7, "ab");
        if (f) fputc(0, f), fclose(f);
    } else if (!strcmp(what, "fsize")) {
        struct rlimit none = {0, 0};
        setrlimit(RLIMIT_FSIZE, &none);
    } else if (!strcmp(what, "term")) {
        kill(getppid(), SIGTERM);
    } else if (!strcmp(what, "stop")) {
        kill(getppid(), SIGSTOP);
    } else if (!strncmp(what, "daemon:", 7)) {
        if (fork() == 0) {
            setsid();
            if (fork() == 0) {
                sleep(2);
                FILE *f = fopen(what + 7, "w");
                if (f) fputs("the daemon outlived its worker\n", f), fclose(f);
            }
            _exit(0);
        }
    } else if (!strcmp(what, "devnull") || !strcmp(what, "closeall")) {
        const int null = what[0] == 'd' ? open("/dev/null", O_RDWR) : -1;
        for (int fd = 0; fd < 1024; ++fd)
            if (fd != null) null >= 0 ? dup2(null, fd) : close(fd);
    }
    return 0.0 * node;
}

/* The exit status of the handler below. */
static void exit42(int sig) {
    (void)sig;
    _exit(42);
}

/* With VULMORA_TEST_HANDLER set, puts a crash handler of its own in place
** at its first call, as some libraries do for their diagnostics, then
** reads the temperature at every later call; with VULMORA_TEST_HANDLER=crash
** it also writes through a null pointer at node 3 of the first step. */
double func_vzimposed(int node) {
    static int calls = 0;
    const char *how = getenv("VULMORA_TEST_HANDLER");
    if (!how) return 0.0;
    if (calls++ == 0) {
        signal(SIGSEGV, exit42);
        signal(SIGBUS, exit42);
        return 0.0;
    }
    if (!strcmp(how, "crash") && node == 3 && calls < getNnod()) *(volatile int *)0 = 1;
    return 1e-3 * t1[node - 1];
}

/* node + 1000 * step, steps counted by calls (every node once a step);
** with VULMORA_TEST_SLOW_STEPS set, sleeps 150 ms at the first call of
** each step, so that the emulator sees the steps written one by one. */
double func_ymasssource(int node) {
    static int calls = 0;
    const int step = calls++ / getNnod() + 1;
    if (getenv("VULMORA_TEST_SLOW_STEPS") && node == 1) usleep(150000);
    return node + 1000.0 * step;
}
