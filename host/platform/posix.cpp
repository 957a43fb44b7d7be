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
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>

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

// Close the pipes not at end of file yet.
void closeChild(Child &c) {
    for (int &fd : c.fd)
        if (fd >= 0) close(fd), fd = -1;
}

// Kill the child's whole process group.
void killChild(Child &c) {
    c.res.killed = true;
    kill(-c.pid, SIGKILL);
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
// (what it left behind may hold the pipe: it is killed with the group), or
// time is up; `out` keeps the first 64 KiB. The copy's wait status goes
// into `st` when it was reaped here.
bool readCopy(int fd, pid_t pid, double seconds, std::string &out, int &st) {
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + std::chrono::duration_cast<Clock::duration>(
                                             std::chrono::duration<double>(seconds));
    bool reaped = false;
    while (!(seconds > 0 && Clock::now() >= deadline)) {
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
            reaped = true;
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
