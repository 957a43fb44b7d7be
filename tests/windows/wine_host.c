/*
** wine_host.c - a small Windows host for the user-function DLLs.
**
** It does what the solver does on Windows: LoadLibrary, GetProcAddress by
** undecorated name, write the exchange block, call entry points. Entry
** points that end the process run in a child: this program started again
** with CreateProcess, its stdout captured through a pipe.
**
**   wine_host template <libvulmora.dll>   checks of the delivered template
**   wine_host user <libtwo_entries.dll>   checks of the two_entries user DLL
**   wine_host names                       the exchange-block names it checks
**   wine_host child <dll> <entry>         (internal) the child of a fatal call
**
** Prints one line per failed check and a summary; exit status 0 when every
** check passed, 1 otherwise.
*/
#include <windows.h>

#include <fcntl.h>
#include <io.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "../../include/vulmora/vulmora_entry_points.h"
#include "../../include/vulmora/vulmora_layout.h"

typedef double (*Entry)(int);
typedef void (*External)(void *, int);
typedef double (*Converter)(int, double);

static int failures = 0;
static int checks = 0;

/* ======================================================================
** Expectations
** ==================================================================== */

/* Count a check; report it when it failed. */
static void expect(int ok, const char *what, const char *detail) {
    ++checks;
    if (!ok) {
        ++failures;
        printf("FAIL: %s%s%s\n", what, detail ? ": " : "", detail ? detail : "");
    }
}

/* The exchange block with the smallest size (bytes) the host relies on. */
struct DataSymbol {
    const char *name;
    size_t size;
};

#define DATA_ROW(name, size) {#name, size},
static const struct DataSymbol kData[] = {VULMORA_EXCHANGE_DATA(DATA_ROW)};
#undef DATA_ROW
#define NDATA (sizeof kData / sizeof kData[0])

/* The two fixed tables: the only exported data that is not zero at load. */
static const int kNnode[VULMORA_NTYPES] = {0, 8, 4, 6, 8, 6, 4, 3, 4, 2, 10, 12};
static const int kNgp[VULMORA_NTYPES] = {0, 8, 1, 6, 8, 6, 4, 3, 4, 2, 4, 8};

/* The placeholders (every entry point of kind PROPERTY), named as their
** line names them. */
#define PLACEHOLDER_PROPERTY(name) #name,
#define PLACEHOLDER_STEP(name)
#define PLACEHOLDER(name, kind, mode, quantity) PLACEHOLDER_##kind(name)
static const char *const kPlaceholders[] = {VULMORA_ENTRY_POINTS(PLACEHOLDER)};
#define NPLACEHOLDERS (sizeof kPlaceholders / sizeof kPlaceholders[0])

/* ======================================================================
** The loaded library
** ==================================================================== */

static HMODULE lib;

/* Load the DLL the way the solver does; a failure ends the run. */
static void load(const char *path) {
    lib = LoadLibraryA(path);
    if (!lib) {
        printf("FAIL: LoadLibrary(%s): error %lu\n", path, (unsigned long)GetLastError());
        exit(1);
    }
}

/* Address of an export, data or code, or NULL. */
static void *sym(const char *name) {
    FARPROC f = GetProcAddress(lib, name);
    void *p;
    memcpy(&p, &f, sizeof p);
    return p;
}

/* Address of an export that must exist; a missing one ends the run. */
static void *need(const char *name) {
    void *p = sym(name);
    if (!p) {
        printf("FAIL: GetProcAddress(%s) found nothing\n", name);
        exit(1);
    }
    return p;
}

/* Exported functions of the three signatures the host calls. */
static Entry entryFn(const char *name) {
    Entry f;
    void *p = need(name);
    memcpy(&f, &p, sizeof f);
    return f;
}

static External externalFn(const char *name) {
    External f;
    void *p = need(name);
    memcpy(&f, &p, sizeof f);
    return f;
}

static Converter converterFn(const char *name) {
    Converter f;
    void *p = need(name);
    memcpy(&f, &p, sizeof f);
    return f;
}

/* The int variable of the exchange block called `name`. */
static int *ivar(const char *name) {
    return (int *)need(name);
}

/* ======================================================================
** Checks made in this process
** ==================================================================== */

/* Every exported variable is zero at load; the two tables hold their values. */
static void checkZeroAtLoad(void) {
    size_t i, b;
    for (i = 0; i < NDATA; ++i) {
        const unsigned char *p = (const unsigned char *)need(kData[i].name);
        int zero = 1;
        for (b = 0; b < kData[i].size; ++b)
            zero = zero && p[b] == 0;
        expect(zero, "zero at load", kData[i].name);
    }
    expect(memcmp(need("el_nnode"), kNnode, sizeof kNnode) == 0, "el_nnode values", NULL);
    expect(memcmp(need("el_ngp"), kNgp, sizeof kNgp) == 0, "el_ngp values", NULL);
}

struct ConvCase {
    const char *selector; /* the unit selector to set, 0 before and after */
    int unit;
    int to; /* 1 fconvertToCGS, 0 fconvertFromCGS */
    int code;
    double in, want;
};

/* The converters through the DLL, with the selector set by name. */
static void checkConverters(void) {
    const struct ConvCase cases[] = {
        {"user_unit_temp", 0, 1, -1, 20.0, 20.0},
        {"user_unit_temp", 2, 1, -1, 20.0, 293.0},
        {"user_unit_temp", 3, 1, -1, 20.0, (20.0 - 32.0) / 1.8 + 273.0},
        {"user_unit_temp", 2, 0, -1, 300.0, 27.0},
        {"user_unit_coor", 5, 0, 0, 254.0, 100.0},
        {"user_unit_coor", 1, 1, 0, 1.0, 100.0},
        {"user_unit_coor", 3, 0, 0, 2.0, 2.0 / 0.1},
        {"user_unit_time", 2, 1, 4, 2.0, 120.0},
        {"user_unit_velocity", 11, 1, 8, 5.5, 5.5},
    };
    Converter to = converterFn("fconvertToCGS");
    Converter from = converterFn("fconvertFromCGS");
    size_t i;
    for (i = 0; i < sizeof cases / sizeof cases[0]; ++i) {
        const struct ConvCase *c = &cases[i];
        int *sel = ivar(c->selector);
        double got;
        char detail[160];
        *sel = c->unit;
        got = c->to ? to(c->code, c->in) : from(c->code, c->in);
        *sel = 0;
        snprintf(detail, sizeof detail, "%s=%d code %d %g -> %.17g, want %.17g", c->selector,
                 c->unit, c->code, c->in, got, c->want);
        expect(got == c->want, "conversion", detail);
    }
}

/* func_externalcompute resets both control flags for flag 0 only. */
static void checkExternalCompute(void) {
    const int flags[] = {1, -1, 2, 0};
    External f = externalFn("func_externalcompute");
    int *t = ivar("tnodecontrol"), *v = ivar("vnodecontrol");
    size_t i;
    for (i = 0; i < sizeof flags / sizeof flags[0]; ++i) {
        char detail[64];
        *t = 7;
        *v = -3;
        f(NULL, flags[i]);
        snprintf(detail, sizeof detail, "flag %d: %d %d", flags[i], *t, *v);
        expect(flags[i] == 0 ? (*t == 0 && *v == 0) : (*t == 7 && *v == -3), "func_externalcompute",
               detail);
    }
    *t = *v = 0;
}

/* ======================================================================
** Fatal calls, in a child process
** ==================================================================== */

static char (*childNames)[101];
static char (*childUnits)[21];

/* At exit, the child shows the five name and unit buffers. */
static void showBuffers(void) {
    int b;
    for (b = 0; b < 5; ++b)
        printf("|%s,%s", childNames[b], childUnits[b]);
}

/* The child: fill the buffers, leave text in stdout's buffer, call the
** entry point. It should never return: exit(1) from the DLL runs
** showBuffers and flushes. Status 99 marks an entry point that returned. */
static int childMain(const char *dll, const char *entry) {
    int b;
    _setmode(_fileno(stdout), _O_BINARY);
    load(dll);
    childNames = (char(*)[101])need("name_mechprop");
    childUnits = (char(*)[21])need("unit_mechprop");
    for (b = 0; b < 5; ++b) {
        snprintf(childNames[b], 101, "name%d", b);
        snprintf(childUnits[b], 21, "unit%d", b);
    }
    atexit(showBuffers);
    fputs("buffered;", stdout);
    (entryFn(entry))(1);
    return 99;
}

struct ChildResult {
    char out[4096];
    DWORD status;
};

/* Run this program as `child <dll> <entry>`; capture stdout and status. */
static int runChild(const char *dll, const char *entry, struct ChildResult *r) {
    char self[MAX_PATH], cmd[3 * MAX_PATH];
    SECURITY_ATTRIBUTES sa = {sizeof sa, NULL, TRUE};
    STARTUPINFOA si;
    PROCESS_INFORMATION pi;
    HANDLE rd, wr;
    DWORD n, len = 0;
    GetModuleFileNameA(NULL, self, sizeof self);
    snprintf(cmd, sizeof cmd, "\"%s\" child \"%s\" %s", self, dll, entry);
    if (!CreatePipe(&rd, &wr, &sa, 0)) return 0;
    SetHandleInformation(rd, HANDLE_FLAG_INHERIT, 0);
    memset(&si, 0, sizeof si);
    si.cb = sizeof si;
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdOutput = wr;
    si.hStdError = GetStdHandle(STD_ERROR_HANDLE);
    si.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    if (!CreateProcessA(NULL, cmd, NULL, NULL, TRUE, 0, NULL, NULL, &si, &pi)) {
        CloseHandle(rd);
        CloseHandle(wr);
        return 0;
    }
    CloseHandle(wr);
    while (len < sizeof r->out - 1 &&
           ReadFile(rd, r->out + len, sizeof r->out - 1 - len, &n, NULL) && n > 0)
        len += n;
    r->out[len] = 0;
    CloseHandle(rd);
    WaitForSingleObject(pi.hProcess, INFINITE);
    GetExitCodeProcess(pi.hProcess, &r->status);
    CloseHandle(pi.hProcess);
    CloseHandle(pi.hThread);
    return 1;
}

/* What the child of placeholder `name` must print: the buffered text,
** the placeholder line, then the buffers, with buffer N-1 emptied by
** func_mechpropN. */
static void expectedPlaceholderOutput(const char *name, char *out, size_t size) {
    int b, emptied = -1;
    size_t len;
    if (strncmp(name, "mechprop", 8) == 0) emptied = name[8] - '1';
    len = (size_t)snprintf(out, size, "buffered;---> exit in C user function %s <---\n", name);
    for (b = 0; b < 5; ++b) {
        if (b == emptied)
            len += (size_t)snprintf(out + len, size - len, "|,");
        else
            len += (size_t)snprintf(out + len, size - len, "|name%d,unit%d", b, b);
    }
}

/* Entry point `func_<name>` of `dll` stops with its line and status 1. */
static void checkPlaceholder(const char *dll, const char *name) {
    char entry[64], want[512], detail[4600];
    struct ChildResult r;
    snprintf(entry, sizeof entry, "func_%s", name);
    if (!runChild(dll, entry, &r)) {
        expect(0, "CreateProcess", entry);
        return;
    }
    expectedPlaceholderOutput(name, want, sizeof want);
    snprintf(detail, sizeof detail, "%s: status %lu, printed \"%s\"", entry,
             (unsigned long)r.status, r.out);
    expect(r.status == 1 && strcmp(r.out, want) == 0, "placeholder", detail);
}

/* ======================================================================
** The two modes
** ==================================================================== */

/* The delivered template: surface, converters, flags, placeholders. */
static void checkTemplate(const char *dll) {
    size_t i;
    load(dll);
    checkZeroAtLoad();
    checkConverters();
    checkExternalCompute();
    for (i = 0; i < NPLACEHOLDERS; ++i)
        checkPlaceholder(dll, kPlaceholders[i]);
}

/* two_entries.c: the user's two entry points, the template for the rest. */
static void checkUser(const char *dll) {
    int *coor;
    char(*names)[101];
    char(*units)[21];
    load(dll);
    checkZeroAtLoad();
    coor = ivar("user_unit_coor");
    names = (char(*)[101])need("name_mechprop");
    units = (char(*)[21])need("unit_mechprop");
    *coor = 5; /* 254 cm is 100 in the user's unit 5 */
    expect((entryFn("func_density"))(3) == 2.0 * 100.0 + 3.0, "user func_density", "unit 5");
    *coor = 0;
    expect((entryFn("func_density"))(1) == 2.0 * 254.0 + 1.0, "user func_density", "unit 0");
    expect((entryFn("func_mechprop2"))(1) == 42.0, "user func_mechprop2", NULL);
    expect(strcmp(names[1], "hardness") == 0 && strcmp(units[1], "HV") == 0,
           "user func_mechprop2 names itself", names[1]);
    memset(names, 0, 5 * 101);
    memset(units, 0, 5 * 21);
    expect(sym("userlib_twice") == NULL, "the user's helper is not exported", NULL);
    checkConverters();
    checkExternalCompute();
    checkPlaceholder(dll, "yieldstress");
    checkPlaceholder(dll, "mechprop1");
}

/* Dispatch on the mode; see the head of the file. */
int main(int argc, char **argv) {
    if (argc == 2 && strcmp(argv[1], "names") == 0) {
        size_t i;
        for (i = 0; i < NDATA; ++i)
            printf("%s\n", kData[i].name);
        printf("el_nnode\nel_ngp\n");
        return 0;
    }
    if (argc == 4 && strcmp(argv[1], "child") == 0) return childMain(argv[2], argv[3]);
    if (argc == 3 && strcmp(argv[1], "template") == 0)
        checkTemplate(argv[2]);
    else if (argc == 3 && strcmp(argv[1], "user") == 0)
        checkUser(argv[2]);
    else {
        fputs("usage: wine_host template|user <dll> | names\n", stderr);
        return 2;
    }
    printf("%s: %d checks, %d failed\n", argv[1], checks, failures);
    return failures ? 1 : 0;
}
