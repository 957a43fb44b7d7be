#include "child.h"

#include <cstdio>
#include <cstdlib>
#include <sys/wait.h>
#include <unistd.h>

namespace vtest {

ChildResult runInChild(const std::function<void()> &fn) {
    std::fflush(nullptr); // nothing buffered may be written twice
    int fds[2];
    if (pipe(fds) != 0) std::abort();
    pid_t pid = fork();
    if (pid < 0) std::abort();
    if (pid == 0) {
        close(fds[0]);
        dup2(fds[1], STDOUT_FILENO);
        close(fds[1]);
        fn();
        std::exit(0);
    }
    close(fds[1]);
    ChildResult r;
    char buf[4096];
    ssize_t n;
    while ((n = read(fds[0], buf, sizeof buf)) > 0)
        r.out.append(buf, static_cast<size_t>(n));
    close(fds[0]);
    int st = 0;
    waitpid(pid, &st, 0);
    r.exited = WIFEXITED(st);
    r.status = r.exited ? WEXITSTATUS(st) : (WIFSIGNALED(st) ? WTERMSIG(st) : -1);
    return r;
}

} // namespace vtest
