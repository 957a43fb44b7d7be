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

std::string captureStdout(const std::function<void()> &fn) {
    std::fflush(stdout);
    FILE *tmp = std::tmpfile();
    int saved = dup(STDOUT_FILENO);
    dup2(fileno(tmp), STDOUT_FILENO);
    fn();
    std::fflush(stdout);
    dup2(saved, STDOUT_FILENO);
    close(saved);
    std::string out;
    std::rewind(tmp);
    for (int ch; (ch = std::fgetc(tmp)) != EOF;)
        out += static_cast<char>(ch);
    std::fclose(tmp);
    return out;
}

} // namespace vtest
