// posix.cpp - child processes on Linux and other POSIX systems: the
// workers, each in a process group of its own, run with their output
// captured; and a forked copy of this process for one call.
#include "platform/processes.h"
#include "platform/children.h"
#include "platform/posix_signals.h"

#include <signal.h>

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/resource.h>
#ifdef __linux__
#include <sched.h>
#include <sys/prctl.h>
#endif
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdint>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

extern char **environ;

namespace vhost::platform {

namespace {

// strerror of the current errno.
std::string lastError() {
    return std::strerror(errno);
}

using Clock = children::Clock;

// A running child: its pid (and process group), the read ends of its
// stdout and stderr pipes, what it wrote.
struct Child {
    pid_t pid = -1;
    int fd[2] = {-1, -1}; // stdout, stderr
    size_t index = 0;
    bool ended = false; // reaped
    Clock::time_point endedAt;
    RunResult res;
    // Its processes' processor time and peak memory when it was killed:
    // the system counts a process into its parent's only when the parent
    // waits for it, and a killed worker's container waits for nothing.
    double cpuAtKill = 0;
    uint64_t peakAtKill = 0;
    std::vector<pid_t> killed; // the processes under it when it was killed
};

#ifdef __linux__
// The processor time (with that of the children each waited for) and the
// largest peak memory of process `pid` and every process under it, from
// /proc; zeros where it cannot be read. Each process's number is added to
// `pids`.
void treeUsage(pid_t pid, double &cpu, uint64_t &peak, std::vector<pid_t> &pids, int depth = 0) {
    pids.push_back(pid);
    const std::string dir = "/proc/" + std::to_string(pid);
    char buf[1024];
    auto slurp = [&buf](const std::string &file) {
        const int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
        const ssize_t n = fd < 0 ? -1 : ::read(fd, buf, sizeof buf - 1);
        if (fd >= 0) ::close(fd);
        buf[n > 0 ? n : 0] = 0;
        return n > 0;
    };
    if (slurp(dir + "/stat")) {
        // After the name (which may hold anything): the fields from the state on.
        const char *p = std::strrchr(buf, ')');
        unsigned long long t[4] = {};
        if (p &&
            std::sscanf(p + 2, "%*c %*d %*d %*d %*d %*d %*u %*u %*u %*u %*u %llu %llu %llu %llu",
                        &t[0], &t[1], &t[2], &t[3]) == 4)
            cpu += double(t[0] + t[1] + t[2] + t[3]) / double(sysconf(_SC_CLK_TCK));
    }
    if (slurp(dir + "/status"))
        if (const char *hwm = std::strstr(buf, "VmHWM:"))
            peak = std::max<uint64_t>(peak, std::strtoull(hwm + 6, nullptr, 10) * 1024u);
    if (depth > 64 || !slurp(dir + "/task/" + std::to_string(pid) + "/children")) return;
    std::vector<pid_t> children;
    for (char *p = buf, *next = nullptr;; p = next) {
        const long child = std::strtol(p, &next, 10);
        if (next == p) break;
        children.push_back(static_cast<pid_t>(child));
    }
    for (pid_t child : children)
        treeUsage(child, cpu, peak, pids, depth + 1);
}

// Wait, up to two seconds, until each of `pids` has ended (or is a zombie,
// its memory and command line gone): a killed process dies a moment after
// the signal, and the bench must not end while it lingers.
void awaitEnd(const std::vector<pid_t> &pids) {
    const auto deadline = Clock::now() + std::chrono::seconds(2);
    for (pid_t pid : pids) {
        const std::string stat = "/proc/" + std::to_string(pid) + "/stat";
        while (Clock::now() < deadline) {
            char buf[512];
            const int fd = ::open(stat.c_str(), O_RDONLY | O_CLOEXEC);
            const ssize_t n = fd < 0 ? -1 : ::read(fd, buf, sizeof buf - 1);
            if (fd >= 0) ::close(fd);
            buf[n > 0 ? n : 0] = 0;
            const char *p = std::strrchr(buf, ')');
            if (n <= 0 || !p || p[1] == 0 || p[2] == 'Z' || p[2] == 'X') break;
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
    }
}
#endif

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
    c.res.cpuSeconds = std::max(c.res.cpuSeconds, c.cpuAtKill);
    c.res.peakBytes = std::max(c.res.peakBytes, c.peakAtKill);
#ifdef __linux__
    if (c.res.killed) awaitEnd(c.killed);
#endif
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

// Close the pipes not at end of file yet.
void closeChild(Child &c) {
    for (int &fd : c.fd)
        if (fd >= 0) close(fd), fd = -1;
}

// Kill the child's whole process group (its container with it), its
// processes' usage noted first.
void killChild(Child &c) {
    c.res.killed = true;
#ifdef __linux__
    treeUsage(c.pid, c.cpuAtKill, c.peakAtKill, c.killed);
#endif
    kill(-c.pid, SIGKILL);
    kill(c.pid, SIGKILL); // a worker that left its group (uncontained) too
}

// Whether a pipe of the child is still open.
bool pipesOpen(const Child &c) {
    return c.fd[0] >= 0 || c.fd[1] >= 0;
}

// One poll() over every open pipe of the running children, up to 100 ms,
// then what each ready pipe has.
void pump(std::vector<Child> &active) {
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
}

} // namespace

namespace {
// What a copy may send its parent (user code's kill(getppid(), ...)): the
// parent ignores it while the copy runs; the copy starts with the defaults.
constexpr int kCopySignals[] = {SIGINT, SIGTERM, SIGHUP};
using CopySignals = struct sigaction[std::size(kCopySignals)];

// Give the copy's signals `disposition`, keeping what they were in `saved`.
void setCopySignals(void (*disposition)(int), CopySignals &saved) {
    struct sigaction sa {};
    sa.sa_handler = disposition;
    sigemptyset(&sa.sa_mask);
    for (size_t k = 0; k < std::size(kCopySignals); ++k)
        sigaction(kCopySignals[k], &sa, &saved[k]);
}

// Give the copy's signals back what setCopySignals kept.
void restoreCopySignals(const CopySignals &saved) {
    for (size_t k = 0; k < std::size(kCopySignals); ++k)
        sigaction(kCopySignals[k], &saved[k], nullptr);
}

// The copy's side: a process group of its own, standard output into the
// pipe, the call, and an exit that runs no handler of the parent's.
[[noreturn]] void runCopy(const std::function<void()> &call, const int fds[2]) {
    CopySignals unused;
    setCopySignals(SIG_DFL, unused);
    setpgid(0, 0);
    close(fds[0]);
    dup2(fds[1], 1);
    close(fds[1]);
    call();
    std::fflush(stdout);
    _exit(0);
}

// Read the copy's pipe until the copy has ended and the pipe is drained
// (what it left behind may hold the pipe: it is killed with the group, and
// what left the group is waited for a moment only), or time is up; `out`
// keeps the first 64 KiB. The copy's wait status goes into `st` when it
// was reaped here.
bool readCopy(int fd, pid_t pid, double seconds, std::string &out, int &st) {
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + std::chrono::duration_cast<Clock::duration>(
                                             std::chrono::duration<double>(seconds));
    bool reaped = false;
    Clock::time_point reapedAt;
    while (!(seconds > 0 && Clock::now() >= deadline) &&
           !(reaped && Clock::now() - reapedAt > std::chrono::milliseconds(200))) {
        pollfd p{fd, POLLIN, 0};
        int r = poll(&p, 1, 50);
        if (r > 0) {
            char buf[4096];
            ssize_t n = read(fd, buf, sizeof buf);
            if (n > 0) {
                if (out.size() < 65536) out.append(buf, static_cast<size_t>(n));
                continue;
            }
            if (n == 0) break;
        }
        if (!reaped && waitpid(pid, &st, WNOHANG) == pid) {
            reaped = true, reapedAt = Clock::now();
            kill(-pid, SIGKILL); // the group's leftovers, so the pipe ends
        }
    }
    return reaped;
}
} // namespace

// The copy writes into a pipe; the pipe is read until end of file or the
// time is up, then the copy is killed (with its group) and reaped.
bool runForked(const std::function<void()> &call, double seconds, std::string &out, bool &exited,
               int &status) {
    int fds[2];
    if (pipe(fds) != 0) return false;
    std::fflush(stdout);
    CopySignals saved;
    setCopySignals(SIG_IGN, saved);
    pid_t pid = fork();
    if (pid < 0) {
        restoreCopySignals(saved);
        close(fds[0]), close(fds[1]);
        return false;
    }
    if (pid == 0) runCopy(call, fds);
    setpgid(pid, pid);
    close(fds[1]);
    int st = 0;
    const bool reaped = readCopy(fds[0], pid, seconds, out, st);
    close(fds[0]);
    kill(-pid, SIGKILL);
    while (!reaped && waitpid(pid, &st, 0) < 0 && errno == EINTR) {
    }
    restoreCopySignals(saved);
    exited = WIFEXITED(st);
    status = exited ? WEXITSTATUS(st) : WTERMSIG(st);
    return true;
}

// Children are started up to the limit; one poll() watches all their
// pipes.
bool runMany(const std::vector<std::vector<std::string>> &jobs, int parallel,
             const std::function<void(size_t, RunResult &)> &done,
             const std::function<bool(size_t)> &watch, const std::function<void()> &idle) {
    return children::runAll<Child>(jobs, parallel, done, watch, idle);
}

} // namespace vhost::platform

// ---- a worker's container ---------------------------------------------------------

#ifdef __linux__
namespace vhost::platform {

namespace {

// What the process that reaps inside the namespace tells the one outside.
struct Relay {
    int32_t kind;  // kRelaySignal or kRelayStatus
    int32_t value; // the signal sent to the parent, or the worker's wait status
};
constexpr int32_t kRelaySignal = 1, kRelayStatus = 2;
int gRelay = -1; // the pipe's write end, in the reaping process

// In the reaping process: a signal user code sent its parent (this
// process, which the namespace protects from it), passed on.
void relaySignal(int sig) {
    const Relay r{kRelaySignal, sig};
    if (write(gRelay, &r, sizeof r) < 0) {
    }
}

// The signals the bench takes for an interruption and tells apart by their
// sender: sent to the worker's parent, they are passed on to the bench.
constexpr int kRelayed[] = {SIGINT, SIGTERM, SIGHUP};

// This user as itself in a new user namespace, which may then make a PID
// namespace; false with the reason.
bool ownUserNamespace(std::string &why) {
    const unsigned uid = geteuid(), gid = getegid();
    if (unshare(CLONE_NEWUSER | CLONE_NEWPID) != 0) return why = lastError(), false;
    auto put = [](const char *file, const std::string &text) {
        const int fd = ::open(file, O_WRONLY | O_CLOEXEC);
        const bool ok = fd >= 0 && write(fd, text.data(), text.size()) == ssize_t(text.size());
        if (fd >= 0) close(fd);
        return ok;
    };
    if (!put("/proc/self/setgroups", "deny") ||
        !put("/proc/self/uid_map", std::to_string(uid) + " " + std::to_string(uid) + " 1") ||
        !put("/proc/self/gid_map", std::to_string(gid) + " " + std::to_string(gid) + " 1"))
        return why = "cannot map this user into a user namespace: " + lastError(), false;
    return true;
}

// Outside the namespace: pass on what the reaping process relays, then end
// as the worker ended (or as the reaping process did, when it could not
// tell).
[[noreturn]] void waitOutside(pid_t reaper, int from) {
    Relay r{};
    int status = -1;
    for (ssize_t n; (n = read(from, &r, sizeof r)) != 0;) {
        if (n < 0 && errno == EINTR) continue;
        if (n != ssize_t(sizeof r)) break;
        if (r.kind == kRelaySignal) kill(getppid(), r.value);
        if (r.kind == kRelayStatus) status = r.value;
    }
    int st = 0;
    while (waitpid(reaper, &st, 0) < 0 && errno == EINTR) {
    }
    if (status != -1) st = status;
    if (WIFEXITED(st)) _exit(WEXITSTATUS(st));
    const int sig = WIFSIGNALED(st) ? WTERMSIG(st) : SIGKILL;
    const rlimit none{0, 0};
    setrlimit(RLIMIT_CORE, &none); // the worker dumped its own, where it did
    signal(sig, SIG_DFL);
    sigset_t all;
    sigfillset(&all);
    sigprocmask(SIG_UNBLOCK, &all, nullptr);
    raise(sig);
    _exit(128 + sig);
}

// Inside, as its first process: reap every orphan until the worker ends,
// then tell the process outside how, and end (the system then ends every
// other process in the namespace). A worker something stopped (a copy of
// it, stopping its parent) is continued, as the bench's watchdog continues
// its children: the worker's time limit never stops for it.
[[noreturn]] void reapInside(pid_t worker) {
    for (;;) {
        int st = 0;
        const pid_t pid = waitpid(-1, &st, WUNTRACED);
        if (pid == worker && WIFSTOPPED(st)) {
            kill(worker, SIGCONT);
            continue;
        }
        if (pid == worker) {
            const Relay r{kRelayStatus, st};
            if (write(gRelay, &r, sizeof r) < 0) {
            }
            _exit(0);
        }
        if (pid < 0 && errno != EINTR) _exit(0);
    }
}

} // namespace

bool containWorker(std::string &why) {
    int pipefd[2];
    if (pipe2(pipefd, O_CLOEXEC) != 0) return why = lastError(), false;
    if (unshare(CLONE_NEWPID) != 0 && !ownUserNamespace(why)) {
        close(pipefd[0]), close(pipefd[1]);
        why = "no PID namespace can be made here (" + why + ")";
        return false;
    }
    std::fflush(nullptr);
    const pid_t reaper = fork(); // the namespace's first process
    if (reaper < 0) _exit(3);    // the namespace cannot be left uncontained now
    if (reaper > 0) {
        close(pipefd[1]);
        waitOutside(reaper, pipefd[0]);
    }
    prctl(PR_SET_PDEATHSIG, SIGKILL); // with the process outside
    close(pipefd[0]);
    gRelay = pipefd[1];
    struct sigaction sa {};
    sa.sa_handler = relaySignal;
    sa.sa_flags = SA_RESTART;
    sigemptyset(&sa.sa_mask);
    for (int sig : kRelayed)
        sigaction(sig, &sa, nullptr);
    const pid_t worker = fork();
    if (worker < 0) _exit(3);
    if (worker > 0) reapInside(worker);
    for (int sig : kRelayed)
        signal(sig, SIG_DFL);
    close(gRelay);
    gRelay = -1;
    return true;
}

} // namespace vhost::platform
#else
namespace vhost::platform {
bool containWorker(std::string &why) {
    why = "this system has no PID namespaces";
    return false;
}
} // namespace vhost::platform
#endif
