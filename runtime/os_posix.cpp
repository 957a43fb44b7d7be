// os_posix.cpp - the capture's system calls on Linux and other POSIX
// systems.
#include "os.h"

#include <fcntl.h>
#include <link.h>
#include <signal.h>
#include <stdint.h>
#include <string.h>
#include <unistd.h>

namespace vulmora::os {

namespace {

constexpr int kSignals[] = {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGABRT};
constexpr size_t kNumSignals = sizeof kSignals / sizeof *kSignals;
struct sigaction gPrevious[kNumSignals];
char gAltStack[1 << 16];
void (*gHook)(Crash, long long);

void restoreHandlers() {
    for (size_t k = 0; k < kNumSignals; ++k)
        sigaction(kSignals[k], &gPrevious[k], nullptr);
}

// Tell the hook and put the previous handlers back: the host sees the
// crash it would have seen. A fault of the processor's (a bad address, a
// division by zero) happens again when this handler returns, so the host's
// handler sees it as it was, its address included; a signal sent (abort,
// kill, raise) is raised again.
void crashed(int sig, siginfo_t *info, void *) {
    restoreHandlers();
    if (gHook) gHook(Crash::signal, sig);
    if (!info || info->si_code <= 0 || sig == SIGABRT)
        raise(sig); // pending until this handler returns, then the previous action
}

// The loaded object whose segments hold an address (dl_iterate_phdr is as
// old as the C library's first symbol versions, unlike dladdr's home in it).
struct Owner {
    uintptr_t address;
    const char *name;
};

int visit(dl_phdr_info *info, size_t, void *data) {
    Owner *o = static_cast<Owner *>(data);
    for (int k = 0; k < info->dlpi_phnum; ++k) {
        const ElfW(Phdr) &ph = info->dlpi_phdr[k];
        const uintptr_t lo = info->dlpi_addr + ph.p_vaddr;
        if (ph.p_type == PT_LOAD && o->address >= lo && o->address - lo < ph.p_memsz) {
            o->name = info->dlpi_name;
            return 1;
        }
    }
    return 0;
}

// Append `s` to the NUL-terminated `buf` of `size` bytes as far as it fits.
void append(char *buf, size_t size, const char *s) {
    size_t n = strlen(buf);
    while (*s && n + 1 < size)
        buf[n++] = *s++;
    buf[n] = 0;
}

} // namespace

long writeSome(int fd, const void *data, size_t n) {
    return static_cast<long>(::write(fd, data, n));
}

int createExclusive(const char *path, unsigned mode) {
    return ::open(path, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                  static_cast<mode_t>(mode));
}

int closeFile(int fd) {
    return ::close(fd);
}

int removeFile(const char *path) {
    return ::unlink(path);
}

long processId() {
#ifdef __linux__
    // "NSpid:" lists the number in each namespace, the outermost first.
    static char status[4096];
    const int fd = ::open("/proc/self/status", O_RDONLY | O_CLOEXEC);
    if (fd >= 0) {
        const ssize_t n = ::read(fd, status, sizeof status - 1);
        ::close(fd);
        status[n > 0 ? n : 0] = 0;
        if (const char *p = strstr(status, "\nNSpid:")) {
            p += 7;
            while (*p == ' ' || *p == '\t')
                ++p;
            long pid = 0;
            for (; *p >= '0' && *p <= '9'; ++p)
                pid = pid * 10 + (*p - '0');
            if (pid > 0) return pid;
        }
    }
#endif
    return static_cast<long>(getpid());
}

// A stack of our own for the handler, so that a stack overflow is caught
// too, unless the host has given the thread a large enough one.
void catchCrashes(void (*hook)(Crash, long long)) {
    gHook = hook;
    stack_t current;
    if (sigaltstack(nullptr, &current) == 0 &&
        ((current.ss_flags & SS_DISABLE) || current.ss_size < sizeof gAltStack / 2)) {
        stack_t mine;
        memset(&mine, 0, sizeof mine);
        mine.ss_sp = gAltStack;
        mine.ss_size = sizeof gAltStack;
        sigaltstack(&mine, nullptr);
    }
    struct sigaction sa;
    memset(&sa, 0, sizeof sa);
    sa.sa_sigaction = crashed;
    sa.sa_flags = SA_ONSTACK | SA_SIGINFO;
    sigemptyset(&sa.sa_mask);
    for (size_t k = 0; k < kNumSignals; ++k)
        sigaction(kSignals[k], &sa, &gPrevious[k]);
}

// A relative name is taken from the working directory.
void libraryPath(const void *address, char *path, size_t size) {
    Owner o = {reinterpret_cast<uintptr_t>(address), nullptr};
    dl_iterate_phdr(visit, &o);
    if (!o.name || !*o.name) return; // linked into the program itself
    if (o.name[0] != '/' && getcwd(path, size)) append(path, size, "/");
    append(path, size, o.name);
}

} // namespace vulmora::os
