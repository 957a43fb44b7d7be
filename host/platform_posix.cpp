// platform_posix.cpp - the platform layer on Linux and other POSIX systems.
#include "platform.h"

#include <dlfcn.h>
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

// Read everything the child writes into `out` until end of file, calling
// `idle` whenever 200 ms pass without data.
static void drain(int fd, std::string &out, const std::function<void()> &idle) {
    char buf[65536];
    for (;;) {
        pollfd p{fd, POLLIN, 0};
        int r = poll(&p, 1, 200);
        if (r == 0) {
            if (idle) idle();
            continue;
        }
        if (r < 0 && errno == EINTR) continue;
        ssize_t n = read(fd, buf, sizeof buf);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        out.append(buf, static_cast<size_t>(n));
    }
}

// posix_spawnp with stdout redirected into a pipe; then drain and wait.
RunResult runCaptured(const std::vector<std::string> &args, const std::function<void()> &idle) {
    RunResult res;
    int fds[2];
    if (pipe(fds) != 0) {
        res.error = std::strerror(errno);
        return res;
    }
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_adddup2(&fa, fds[1], 1);
    posix_spawn_file_actions_addclose(&fa, fds[0]);
    posix_spawn_file_actions_addclose(&fa, fds[1]);
    std::vector<char *> argv;
    for (const auto &a : args)
        argv.push_back(const_cast<char *>(a.c_str()));
    argv.push_back(nullptr);
    pid_t pid = 0;
    int rc = posix_spawnp(&pid, argv[0], &fa, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&fa);
    close(fds[1]);
    if (rc != 0) {
        close(fds[0]);
        res.error = std::strerror(rc);
        return res;
    }
    res.started = true;
    drain(fds[0], res.out, idle);
    close(fds[0]);
    int st = 0;
    while (waitpid(pid, &st, 0) < 0 && errno == EINTR) {
    }
    if (WIFEXITED(st)) {
        res.exited = true;
        res.status = WEXITSTATUS(st);
    } else if (WIFSIGNALED(st)) {
        res.status = WTERMSIG(st);
    }
    return res;
}

} // namespace vhost::platform
