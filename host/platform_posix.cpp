// platform_posix.cpp - the platform layer on Linux and other POSIX systems.
#include "platform.h"

#include <signal.h>

#include <dlfcn.h>
#include <fcntl.h>
#include <cerrno>
#include <climits>
#include <cstring>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char **environ;

namespace vhost::platform {

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

// getpid
long processId() {
    return static_cast<long>(getpid());
}

// isatty on descriptor 2.
bool stderrIsTerminal() {
    return isatty(2) != 0;
}

// ---- child processes -------------------------------------------------------

namespace {

// A running child: its pid, the read end of its stdout pipe, what it wrote.
struct Child {
    pid_t pid;
    int fd;
    size_t index;
    RunResult res;
};

// posix_spawnp with stdout on a new pipe; false (reason in res.error) when
// the program cannot be started.
bool spawnChild(const std::vector<std::string> &args, Child &c) {
    int fds[2];
    if (pipe(fds) != 0) {
        c.res.error = std::strerror(errno);
        return false;
    }
    // Other children must not inherit this pipe (dup2 onto 1 clears the flag).
    fcntl(fds[0], F_SETFD, FD_CLOEXEC);
    fcntl(fds[1], F_SETFD, FD_CLOEXEC);
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_adddup2(&fa, fds[1], 1);
    posix_spawn_file_actions_addclose(&fa, fds[0]);
    posix_spawn_file_actions_addclose(&fa, fds[1]);
    std::vector<char *> argv;
    for (const auto &a : args)
        argv.push_back(const_cast<char *>(a.c_str()));
    argv.push_back(nullptr);
    int rc = posix_spawnp(&c.pid, argv[0], &fa, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&fa);
    close(fds[1]);
    if (rc != 0) {
        close(fds[0]);
        c.res.error = std::strerror(rc);
        return false;
    }
    c.fd = fds[0];
    c.res.started = true;
    return true;
}

// Reap the child and record how it ended.
void reap(Child &c) {
    close(c.fd);
    int st = 0;
    while (waitpid(c.pid, &st, 0) < 0 && errno == EINTR) {
    }
    if (WIFEXITED(st)) {
        c.res.exited = true;
        c.res.status = WEXITSTATUS(st);
    } else if (WIFSIGNALED(st)) {
        c.res.status = WTERMSIG(st);
    }
}

} // namespace

// Children are started up to the limit; one poll() watches all their
// pipes, and a child is reaped when its pipe reaches end of file.
void runMany(const std::vector<std::vector<std::string>> &jobs, int parallel,
             const std::function<void(size_t, RunResult &)> &done,
             const std::function<void()> &idle) {
    std::vector<Child> active;
    size_t next = 0;
    const size_t limit = parallel < 1 ? 1 : static_cast<size_t>(parallel);
    while (next < jobs.size() || !active.empty()) {
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
        for (const Child &c : active)
            fds.push_back({c.fd, POLLIN, 0});
        int r = poll(fds.data(), fds.size(), 200);
        if (r == 0 && idle) idle();
        if (r <= 0) continue;
        for (size_t k = active.size(); k-- > 0;) {
            if (!fds[k].revents) continue;
            char buf[65536];
            ssize_t n = read(active[k].fd, buf, sizeof buf);
            if (n < 0 && errno == EINTR) continue;
            if (n > 0) {
                active[k].res.out.append(buf, static_cast<size_t>(n));
                continue;
            }
            Child c = std::move(active[k]);
            active.erase(active.begin() + static_cast<std::ptrdiff_t>(k));
            reap(c);
            done(c.index, c.res);
        }
    }
}

// One job through runMany.
RunResult runCaptured(const std::vector<std::string> &args, const std::function<void()> &idle) {
    RunResult out;
    runMany(
        {args}, 1, [&](size_t, RunResult &r) { out = std::move(r); }, idle);
    return out;
}

namespace {
void (*gCrashHook)() = nullptr;

// Run the hook once, then die of the same signal with its default action
// (SA_RESETHAND restored it before we got here).
void crashed(int sig) {
    if (void (*hook)() = gCrashHook) {
        gCrashHook = nullptr;
        hook();
    }
    raise(sig);
}
} // namespace

void onCrash(void (*hook)()) {
    gCrashHook = hook;
    struct sigaction sa {};
    sa.sa_handler = crashed;
    sa.sa_flags = static_cast<int>(SA_RESETHAND | SA_NODEFER);
    sigemptyset(&sa.sa_mask);
    for (int sig : {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGABRT})
        sigaction(sig, &sa, nullptr);
}

// POSIX streams never translate line ends.
void rawStdout() {}

} // namespace vhost::platform
