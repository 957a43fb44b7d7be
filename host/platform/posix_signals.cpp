// posix_signals.cpp - signals on Linux and other POSIX systems: crashes
// and the faults a resolver mends, interruption by the user (told apart
// from a worker's signal by the registry of running workers' groups), the
// watchdog that resumes a stopped bench, and ending with the parent.
#include "platform/posix_signals.h"
#include "platform/signals.h"

#include <signal.h>

#ifdef __linux__
#include <sys/prctl.h>
#endif
#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace vhost::platform {

// The usual abbreviations, "signal N" for the rest.
std::string signalName(int code) {
    static const struct {
        int sig;
        const char *name;
    } names[] = {
        {SIGSEGV, "SIGSEGV"}, {SIGBUS, "SIGBUS"},   {SIGFPE, "SIGFPE"},   {SIGILL, "SIGILL"},
        {SIGABRT, "SIGABRT"}, {SIGKILL, "SIGKILL"}, {SIGTERM, "SIGTERM"}, {SIGINT, "SIGINT"},
        {SIGPIPE, "SIGPIPE"}, {SIGTRAP, "SIGTRAP"}, {SIGSYS, "SIGSYS"},   {SIGXCPU, "SIGXCPU"},
        {SIGXFSZ, "SIGXFSZ"}, {SIGALRM, "SIGALRM"}, {SIGHUP, "SIGHUP"},   {SIGQUIT, "SIGQUIT"},
        {SIGUSR1, "SIGUSR1"}, {SIGUSR2, "SIGUSR2"}, {SIGSTOP, "SIGSTOP"}, {SIGTSTP, "SIGTSTP"},
        {SIGCONT, "SIGCONT"}, {SIGTTIN, "SIGTTIN"}, {SIGTTOU, "SIGTTOU"}, {SIGCHLD, "SIGCHLD"}};
    for (const auto &n : names)
        if (n.sig == code) return n.name;
    return "signal " + std::to_string(code);
}

// ---- crashes and interruption ---------------------------------------------------

namespace {
void (*gCrashHook)(const void *) = nullptr;
bool (*gResolve)(const void *) = nullptr;
volatile sig_atomic_t gInterrupted = 0;

// A fault the resolver mends returns, to make the access again. Otherwise
// this signal's default action comes back (set here, not by SA_RESETHAND,
// which would take the handler from the other threads too: one of them
// may be faulting on an array being filled), the hook runs once, and the
// process dies of the same signal.
void crashed(int sig, siginfo_t *info, void *) {
    const bool memory = sig == SIGSEGV || sig == SIGBUS;
    if (memory && info && gResolve && gResolve(info->si_addr)) return;
    struct sigaction dfl {};
    dfl.sa_handler = SIG_DFL;
    sigemptyset(&dfl.sa_mask);
    sigaction(sig, &dfl, nullptr);
    if (void (*hook)(const void *) = gCrashHook) {
        gCrashHook = nullptr;
        hook(memory && info ? info->si_addr : nullptr);
    }
    raise(sig);
}

// The process groups of the running workers, and the signal each sent to
// this process (SIGINT, SIGTERM, SIGHUP): user code's doing, not an
// interruption.
constexpr size_t kWorkerSlots = 256;
std::atomic<pid_t> gWorkerGroup[kWorkerSlots];
std::atomic<int> gWorkerSignal[kWorkerSlots];

void interruptedBy(int sig, siginfo_t *info, void *) {
    if (info && info->si_code == SI_USER && info->si_pid > 0) {
        const pid_t group = getpgid(info->si_pid);
        for (size_t k = 0; group > 0 && k < kWorkerSlots; ++k)
            if (gWorkerGroup[k].load() == group) {
                int none = 0;
                gWorkerSignal[k].compare_exchange_strong(none, sig);
                return;
            }
    }
    if (!gInterrupted) gInterrupted = sig;
}

// The watchdog that resumes this process when something stopped it, and
// how often it did.
pid_t gWatchdog = 0;
std::atomic<int> gResumed{0};

void resumedBy(int, siginfo_t *info, void *) {
    if (info && gWatchdog > 0 && info->si_pid == gWatchdog) gResumed.fetch_add(1);
}
} // namespace

// The first free slot takes the group.
void watchWorker(pid_t pid) {
    for (size_t k = 0; k < kWorkerSlots; ++k) {
        pid_t none = 0;
        if (gWorkerGroup[k].compare_exchange_strong(none, pid)) return;
    }
}

// Frees the slot of worker `pid`, giving back what it sent.
int unwatchWorker(pid_t pid) {
    for (size_t k = 0; k < kWorkerSlots; ++k)
        if (gWorkerGroup[k].load() == pid) {
            const int sig = gWorkerSignal[k].exchange(0);
            gWorkerGroup[k].store(0);
            return sig;
        }
    return 0;
}

void onCrash(void (*hook)(const void *)) {
    gCrashHook = hook;
    // A stack of its own, so that a stack overflow still reaches the hook.
    static char altStack[1 << 16];
    stack_t ss{};
    ss.ss_sp = altStack;
    ss.ss_size = sizeof altStack;
    sigaltstack(&ss, nullptr);
    struct sigaction sa {};
    sa.sa_sigaction = crashed;
    sa.sa_flags = static_cast<int>(SA_SIGINFO | SA_ONSTACK | SA_NODEFER);
    sigemptyset(&sa.sa_mask);
    for (int sig : {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGABRT})
        sigaction(sig, &sa, nullptr);
}

bool onFault(bool (*resolve)(const void *)) {
    gResolve = resolve;
    return true;
}

bool faultsReachResolver() {
    if (!gResolve) return false;
    for (int sig : {SIGSEGV, SIGBUS}) {
        struct sigaction now {};
        if (sigaction(sig, nullptr, &now) != 0 || !(now.sa_flags & SA_SIGINFO) ||
            now.sa_sigaction != crashed)
            return false;
    }
    return true;
}

// No SA_RESTART: a wait in poll() returns at once. The sender is known, so
// a signal from a worker is told apart from the user's.
void catchInterrupts() {
    struct sigaction sa {};
    sa.sa_sigaction = interruptedBy;
    sa.sa_flags = SA_SIGINFO;
    sigemptyset(&sa.sa_mask);
    for (int sig : {SIGINT, SIGTERM, SIGHUP})
        sigaction(sig, &sa, nullptr);
}

namespace {
constexpr const char *kParentVariable = "VULMORA_HOST_PARENT";

// The state letter of process `pid` ('T': stopped), 0 when unknown.
char processState(const std::string &pid) {
    char buf[512];
    const int fd = ::open(("/proc/" + pid + "/stat").c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return 0;
    const ssize_t n = ::read(fd, buf, sizeof buf - 1);
    ::close(fd);
    if (n <= 0) return 0;
    buf[n] = 0;
    const char *end = std::strrchr(buf, ')'); // the name may hold anything
    return end && end[1] == ' ' ? end[2] : 0;
}

// The watchdog's loop: every 50 ms, continue the bench and its children
// (the workers, in groups of their own, which job control never stops)
// when stopped. It is in the bench's process group, so the user's Ctrl-Z
// stops it with the bench; it ends with the bench.
[[noreturn]] void watch(pid_t bench) {
    const std::string self = std::to_string(bench);
    const std::string children = "/proc/" + self + "/task/" + self + "/children";
    while (getppid() == bench) {
        usleep(50000);
        if (processState(self) == 'T') kill(bench, SIGCONT);
        char list[4096];
        const int fd = ::open(children.c_str(), O_RDONLY | O_CLOEXEC);
        const ssize_t n = fd < 0 ? 0 : ::read(fd, list, sizeof list - 1);
        if (fd >= 0) ::close(fd);
        list[n > 0 ? n : 0] = 0;
        for (char *p = list, *next = nullptr; *p; p = next) {
            const long child = std::strtol(p, &next, 10);
            if (next == p) break;
            if (child > 0 && child != getpid() && processState(std::to_string(child)) == 'T')
                kill(static_cast<pid_t>(child), SIGCONT);
        }
    }
    _exit(0);
}
} // namespace

void resumeWhenStopped() {
#ifdef __linux__
    if (gWatchdog > 0) return;
    struct sigaction sa {};
    sa.sa_sigaction = resumedBy;
    sa.sa_flags = SA_SIGINFO | SA_RESTART;
    sigemptyset(&sa.sa_mask);
    sigaction(SIGCONT, &sa, nullptr);
    const pid_t bench = getpid();
    std::fflush(nullptr);
    const pid_t pid = fork();
    if (pid == 0) {
        prctl(PR_SET_PDEATHSIG, SIGKILL);
        const int null = ::open("/dev/null", O_RDWR | O_CLOEXEC);
        for (int fd = 0; fd < 3 && null >= 0; ++fd)
            dup2(null, fd);
        for (int fd = 3; fd < 1024; ++fd)
            ::close(fd);
        watch(bench);
    }
    gWatchdog = pid > 0 ? pid : 0;
#endif
}

int timesResumed() {
    return gResumed.load();
}

void onFork(void (*before)(), void (*child)()) {
    pthread_atfork(before, nullptr, child);
}

void markWorkersParent() {
    setenv(kParentVariable, std::to_string(getpid()).c_str(), 1);
}

bool endWithParent() {
    const char *parent = std::getenv(kParentVariable);
    if (!parent || !*parent) return true; // started by hand, not by the bench
#ifdef __linux__
    prctl(PR_SET_PDEATHSIG, SIGKILL);
#endif
    // The parent may have ended before the line above: then this process
    // has another parent already.
    return std::to_string(getppid()) == parent;
}

int interrupted() {
    return gInterrupted;
}

} // namespace vhost::platform
