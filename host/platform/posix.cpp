// posix.cpp - the platform layer on Linux and other POSIX systems.
#include "platform/platform.h"

#include <signal.h>

#include <dlfcn.h>
#ifdef __linux__
#include <sys/prctl.h>
#endif
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <atomic>
#include <chrono>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

extern char **environ;

namespace vhost::platform {

namespace {

// strerror of the current errno.
std::string lastError() {
    return std::strerror(errno);
}

} // namespace

// ---- libraries ---------------------------------------------------------------

// dlopen with every symbol resolved now, so a library with a missing
// import fails here and not in the middle of a run.
void *loadLibrary(const std::string &path, std::string &error) {
    void *h = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!h) {
        const char *e = dlerror();
        error = e ? e : "unknown error";
    }
    return h;
}

// dlsym; exported variables and functions alike.
void *findSymbol(void *library, const char *name) {
    return dlsym(library, name);
}

// ---- process facts -----------------------------------------------------------

// The link /proc/self/exe (Linux); "" elsewhere.
std::string executablePath() {
    char buf[PATH_MAX];
    ssize_t n = readlink("/proc/self/exe", buf, sizeof buf - 1);
    if (n <= 0) return "";
    return std::string(buf, static_cast<size_t>(n));
}

// lib<name>.so
std::string libraryFileName(const std::string &name) {
    return "lib" + name + ".so";
}

// POSIX streams never translate line ends; line buffering is all.
void rawStdout() {
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
}

int silenceStdout() {
    std::fflush(stdout);
    int saved = dup(1);
    int null = open("/dev/null", O_WRONLY | O_CLOEXEC);
    if (saved < 0 || null < 0 || dup2(null, 1) < 0) {
        if (saved >= 0) close(saved);
        if (null >= 0) close(null);
        return -1;
    }
    close(null);
    return saved;
}

void restoreStdout(int token) {
    if (token < 0) return;
    std::fflush(stdout);
    dup2(token, 1);
    close(token);
}

// isatty on descriptor 2.
bool stderrIsTerminal() {
    return isatty(2) != 0;
}

// MemAvailable of /proc/meminfo, else the physical memory.
uint64_t availableMemory() {
    if (FILE *f = std::fopen("/proc/meminfo", "r")) {
        char line[256];
        unsigned long long kb = 0;
        while (std::fgets(line, sizeof line, f))
            if (std::sscanf(line, "MemAvailable: %llu kB", &kb) == 1) break;
        std::fclose(f);
        if (kb) return static_cast<uint64_t>(kb) * 1024u;
    }
    long pages = sysconf(_SC_PHYS_PAGES), page = sysconf(_SC_PAGESIZE);
    return pages > 0 && page > 0 ? static_cast<uint64_t>(pages) * static_cast<uint64_t>(page) : 0;
}

uint64_t peakMemory() {
    struct rusage ru {};
    return getrusage(RUSAGE_SELF, &ru) == 0 ? static_cast<uint64_t>(ru.ru_maxrss) * 1024u : 0;
}

double threadCpuSeconds() {
    struct timespec t {};
    if (clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t) != 0) return 0;
    return double(t.tv_sec) + double(t.tv_nsec) * 1e-9;
}

namespace {
double gProcessorStart = 0; // this process's own time when the run began

// User and system time of the process itself (not its children).
double selfSeconds() {
    struct rusage ru {};
    if (getrusage(RUSAGE_SELF, &ru) != 0) return 0;
    return double(ru.ru_utime.tv_sec) + double(ru.ru_utime.tv_usec) * 1e-6 +
           double(ru.ru_stime.tv_sec) + double(ru.ru_stime.tv_usec) * 1e-6;
}
} // namespace

void markProcessorStart() {
    gProcessorStart = selfSeconds();
}

double processorSeconds() {
    return std::max(0.0, selfSeconds() - gProcessorStart);
}

uint64_t freeDiskSpace(const std::string &path) {
    struct statvfs v {};
    if (statvfs(path.c_str(), &v) != 0) return UINT64_MAX;
    return static_cast<uint64_t>(v.f_bavail) * static_cast<uint64_t>(v.f_frsize);
}

// The usual abbreviations, "signal N" for the rest.
std::string shellQuoted(const std::string &arg) {
    std::string q = "'";
    for (char c : arg)
        q += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return q + "'";
}

std::string signalName(int code) {
    static const struct {
        int sig;
        const char *name;
    } names[] = {{SIGSEGV, "SIGSEGV"}, {SIGBUS, "SIGBUS"},   {SIGFPE, "SIGFPE"},
                 {SIGILL, "SIGILL"},   {SIGABRT, "SIGABRT"}, {SIGKILL, "SIGKILL"},
                 {SIGTERM, "SIGTERM"}, {SIGINT, "SIGINT"},   {SIGPIPE, "SIGPIPE"},
                 {SIGTRAP, "SIGTRAP"}, {SIGSYS, "SIGSYS"},   {SIGXCPU, "SIGXCPU"},
                 {SIGXFSZ, "SIGXFSZ"}, {SIGALRM, "SIGALRM"}, {SIGHUP, "SIGHUP"},
                 {SIGQUIT, "SIGQUIT"}, {SIGUSR1, "SIGUSR1"}, {SIGUSR2, "SIGUSR2"}};
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

// Watch the worker whose group is `pid` for signals it sends here.
void watchWorker(pid_t pid) {
    for (size_t k = 0; k < kWorkerSlots; ++k) {
        pid_t none = 0;
        if (gWorkerGroup[k].compare_exchange_strong(none, pid)) return;
    }
}

// The signal the worker `pid` sent here (0: none); it is watched no more.
int unwatchWorker(pid_t pid) {
    for (size_t k = 0; k < kWorkerSlots; ++k)
        if (gWorkerGroup[k].load() == pid) {
            const int sig = gWorkerSignal[k].exchange(0);
            gWorkerGroup[k].store(0);
            return sig;
        }
    return 0;
}
} // namespace

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

// ---- child processes -------------------------------------------------------

namespace {

using Clock = std::chrono::steady_clock;

// A running child: its pid (and process group), the read ends of its
// stdout and stderr pipes, what it wrote.
struct Child {
    pid_t pid = -1;
    int fd[2] = {-1, -1}; // stdout, stderr
    size_t index = 0;
    bool ended = false; // reaped
    Clock::time_point endedAt;
    RunResult res;
};

// A pipe whose ends other children must not inherit (dup2 onto 1 and 2
// clears the flag in the child).
bool makePipe(int fds[2], std::string &error) {
    if (pipe(fds) != 0) {
        error = lastError();
        return false;
    }
    fcntl(fds[0], F_SETFD, FD_CLOEXEC);
    fcntl(fds[1], F_SETFD, FD_CLOEXEC);
    return true;
}

// posix_spawnp in a new process group, stdout and stderr on new pipes;
// false (reason in res.error) when the program cannot be started.
bool spawnChild(const std::vector<std::string> &args, Child &c) {
    int out[2], err[2];
    if (!makePipe(out, c.res.error)) return false;
    if (!makePipe(err, c.res.error)) {
        close(out[0]), close(out[1]);
        return false;
    }
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_adddup2(&fa, out[1], 1);
    posix_spawn_file_actions_adddup2(&fa, err[1], 2);
    posix_spawnattr_t attr;
    posix_spawnattr_init(&attr);
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGDEF);
    posix_spawnattr_setpgroup(&attr, 0);
    sigset_t defaults;
    sigemptyset(&defaults);
    sigaddset(&defaults, SIGINT);
    sigaddset(&defaults, SIGTERM);
    sigaddset(&defaults, SIGHUP);
    sigaddset(&defaults, SIGPIPE);
    posix_spawnattr_setsigdefault(&attr, &defaults);
    std::vector<char *> argv;
    for (const auto &a : args)
        argv.push_back(const_cast<char *>(a.c_str()));
    argv.push_back(nullptr);
    int rc = posix_spawnp(&c.pid, argv[0], &fa, &attr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&fa);
    posix_spawnattr_destroy(&attr);
    close(out[1]);
    close(err[1]);
    if (rc != 0) {
        close(out[0]);
        close(err[0]);
        c.res.error = std::strerror(rc);
        return false;
    }
    c.fd[0] = out[0];
    c.fd[1] = err[0];
    c.res.started = true;
    watchWorker(c.pid);
    return true;
}

// Once the child has ended (at once when `block`), kill whatever is left
// in its process group, then reap the child itself.
void endChild(Child &c, bool block) {
    if (c.ended) return;
    siginfo_t info{};
    const int options = WEXITED | WNOWAIT | (block ? 0 : WNOHANG);
    int rc;
    while ((rc = waitid(P_PID, static_cast<id_t>(c.pid), &info, options)) < 0 && errno == EINTR) {
    }
    if (rc == 0 && info.si_pid == 0) return; // still running
    kill(-c.pid, SIGKILL);                   // what it left behind in its group
    int st = 0;
    struct rusage ru {};
    while (wait4(c.pid, &st, 0, &ru) < 0 && errno == EINTR) {
    }
    c.res.peakBytes = static_cast<uint64_t>(ru.ru_maxrss) * 1024u; // Linux counts KiB
    c.res.signalledParent = unwatchWorker(c.pid);
    c.res.cpuSeconds = double(ru.ru_utime.tv_sec) + double(ru.ru_utime.tv_usec) * 1e-6 +
                       double(ru.ru_stime.tv_sec) + double(ru.ru_stime.tv_usec) * 1e-6;
    c.ended = true;
    c.endedAt = Clock::now();
    if (WIFEXITED(st)) {
        c.res.exited = true;
        c.res.status = WEXITSTATUS(st);
    } else if (WIFSIGNALED(st)) {
        c.res.status = WTERMSIG(st);
    }
}

// Read what one pipe has; close it at end of file.
void drain(Child &c, int k) {
    char buf[65536];
    ssize_t n = read(c.fd[k], buf, sizeof buf);
    if (n < 0 && (errno == EINTR || errno == EAGAIN)) return;
    if (n > 0) {
        (k == 0 ? c.res.out : c.res.err).add(buf, static_cast<size_t>(n));
        return;
    }
    close(c.fd[k]);
    c.fd[k] = -1;
}

void closePipes(Child &c) {
    for (int &fd : c.fd)
        if (fd >= 0) close(fd), fd = -1;
}

} // namespace

namespace {
// The limits a worker needs, and what they were when it started.
const struct {
    int resource;
    const char *name;
} kLimits[] = {
    {RLIMIT_FSIZE, "the process's file size limit (RLIMIT_FSIZE)"},
    {RLIMIT_AS, "the process's address space limit (RLIMIT_AS)"},
    {RLIMIT_DATA, "the process's data size limit (RLIMIT_DATA)"},
    {RLIMIT_NOFILE, "the process's limit on open files (RLIMIT_NOFILE)"},
    {RLIMIT_STACK, "the process's stack size limit (RLIMIT_STACK)"},
};
rlim_t gLimits[std::size(kLimits)];
bool gLimitsKept = false;
} // namespace

void keepLimits() {
    for (size_t k = 0; k < std::size(kLimits); ++k) {
        struct rlimit r {};
        gLimits[k] = getrlimit(kLimits[k].resource, &r) == 0 ? r.rlim_cur : RLIM_INFINITY;
    }
    gLimitsKept = true;
    signal(SIGXFSZ, SIG_IGN);
}

std::string loweredLimit() {
    for (size_t k = 0; gLimitsKept && k < std::size(kLimits); ++k) {
        struct rlimit r {};
        if (getrlimit(kLimits[k].resource, &r) == 0 && r.rlim_cur < gLimits[k])
            return kLimits[k].name;
    }
    return "";
}

void setEnvironment(const char *name, const std::string &value) {
    setenv(name, value.c_str(), 1);
}

void unsetEnvironment(const char *name) {
    unsetenv(name);
}

using ForkClock = std::chrono::steady_clock;

namespace {
// What a copy may send its parent (user code's kill(getppid(), ...)): the
// parent ignores it while the copy runs; the copy starts with the defaults.
constexpr int kCopySignals[] = {SIGINT, SIGTERM, SIGHUP};

void setCopySignals(void (*disposition)(int), struct sigaction *saved) {
    struct sigaction sa {};
    sa.sa_handler = disposition;
    sigemptyset(&sa.sa_mask);
    for (size_t k = 0; k < std::size(kCopySignals); ++k)
        sigaction(kCopySignals[k], saved ? &sa : nullptr, saved ? &saved[k] : nullptr);
}
} // namespace

// The copy writes into a pipe; the pipe is read until end of file or the
// time is up, then the copy is killed (with its group) and reaped.
bool runForked(const std::function<void()> &call, double seconds, std::string &out, bool &exited,
               int &status) {
    int fds[2];
    if (pipe(fds) != 0) return false;
    std::fflush(stdout);
    struct sigaction saved[std::size(kCopySignals)];
    setCopySignals(SIG_IGN, saved);
    pid_t pid = fork();
    if (pid < 0) {
        for (size_t k = 0; k < std::size(kCopySignals); ++k)
            sigaction(kCopySignals[k], &saved[k], nullptr);
        close(fds[0]), close(fds[1]);
        return false;
    }
    if (pid == 0) {
        struct sigaction unused[std::size(kCopySignals)];
        setCopySignals(SIG_DFL, unused);
        setpgid(0, 0);
        close(fds[0]);
        dup2(fds[1], 1);
        close(fds[1]);
        call();
        std::fflush(stdout);
        _exit(0);
    }
    setpgid(pid, pid);
    close(fds[1]);
    const auto deadline = ForkClock::now() + std::chrono::duration_cast<ForkClock::duration>(
                                                 std::chrono::duration<double>(seconds));
    int st = 0;
    bool reaped = false;
    // Read until the copy has ended and the pipe is drained (what it left
    // behind may hold the pipe: it is killed with the group), or time is up.
    while (!(seconds > 0 && ForkClock::now() >= deadline)) {
        pollfd p{fds[0], POLLIN, 0};
        int r = poll(&p, 1, 50);
        if (r > 0) {
            char buf[4096];
            ssize_t n = read(fds[0], buf, sizeof buf);
            if (n > 0) {
                if (out.size() < 65536) out.append(buf, static_cast<size_t>(n));
                continue;
            }
            if (n == 0) break;
        }
        if (!reaped && waitpid(pid, &st, WNOHANG) == pid) {
            reaped = true;
            kill(-pid, SIGKILL); // the group's leftovers, so the pipe ends
        }
    }
    close(fds[0]);
    kill(-pid, SIGKILL);
    while (!reaped && waitpid(pid, &st, 0) < 0 && errno == EINTR) {
    }
    for (size_t k = 0; k < std::size(kCopySignals); ++k)
        sigaction(kCopySignals[k], &saved[k], nullptr);
    exited = WIFEXITED(st);
    status = exited ? WEXITSTATUS(st) : WTERMSIG(st);
    return true;
}

// Children are started up to the limit; one poll() watches all their
// pipes. A child is done when it has been reaped and its pipes are at end
// of file (or a second has passed since: a process that left its group
// may hold them).
bool runMany(const std::vector<std::vector<std::string>> &jobs, int parallel,
             const std::function<void(size_t, RunResult &)> &done,
             const std::function<bool(size_t)> &watch, const std::function<void()> &idle) {
    std::vector<Child> active;
    size_t next = 0;
    const size_t limit = parallel < 1 ? 1 : static_cast<size_t>(parallel);
    Clock::time_point lastWatch = Clock::now();
    int resumed = gResumed.load();
    while (next < jobs.size() || !active.empty()) {
        // Stopped meanwhile and continued by the watchdog: by a worker.
        if (const int now = gResumed.load(); now != resumed) {
            resumed = now;
            for (Child &c : active)
                c.res.stoppedParent = active.size() == 1 ? 1 : 2;
        }
        if (interrupted()) {
            for (Child &c : active) {
                c.res.killed = true;
                kill(-c.pid, SIGKILL);
                endChild(c, true);
                closePipes(c);
            }
            return false;
        }
        while (active.size() < limit && next < jobs.size()) {
            Child c{};
            c.index = next++;
            if (spawnChild(jobs[c.index], c))
                active.push_back(std::move(c));
            else
                done(c.index, c.res);
        }
        if (active.empty()) continue;
        std::vector<pollfd> fds;
        std::vector<std::pair<size_t, int>> owner;
        for (size_t k = 0; k < active.size(); ++k)
            for (int s = 0; s < 2; ++s)
                if (active[k].fd[s] >= 0) {
                    fds.push_back({active[k].fd[s], POLLIN, 0});
                    owner.emplace_back(k, s);
                }
        int r = poll(fds.data(), fds.size(), 100);
        for (size_t p = 0; r > 0 && p < fds.size(); ++p)
            if (fds[p].revents) drain(active[owner[p].first], owner[p].second);
        const bool tick = Clock::now() - lastWatch >= std::chrono::milliseconds(100);
        if (tick) lastWatch = Clock::now();
        for (size_t k = active.size(); k-- > 0;) {
            Child &c = active[k];
            if (!c.ended && tick && watch && watch(c.index)) {
                c.res.killed = true;
                kill(-c.pid, SIGKILL);
            }
            endChild(c, false);
            const bool open = c.fd[0] >= 0 || c.fd[1] >= 0;
            if (!c.ended || (open && Clock::now() - c.endedAt < std::chrono::seconds(1))) continue;
            closePipes(c);
            Child finished = std::move(c);
            active.erase(active.begin() + static_cast<std::ptrdiff_t>(k));
            done(finished.index, finished.res);
        }
        if (tick && idle) idle();
    }
    return true;
}

} // namespace vhost::platform
