// child.h - run a piece of code in a child process and see how it ended.
//
// Fatal stops end the process, so tests run them in a fork: the child's
// stdout goes into a pipe, and the parent gets the exact bytes and the way
// the child ended. (GoogleTest's death tests see only stderr.)
#pragma once

#include <functional>
#include <string>

namespace vtest {

struct ChildResult {
    std::string out;     // every byte the child wrote to stdout
    bool exited = false; // ended through exit/_exit (not a signal)
    int status = -1;     // exit status when exited, else the signal number
};

// Run fn in a child; if fn returns, the child ends with status 0.
ChildResult runInChild(const std::function<void()> &fn);

// Run fn in this process with stdout going to a temporary file; returns
// what it printed (for code that prints and goes on).
std::string captureStdout(const std::function<void()> &fn);

// True when the child printed exactly `text` and ended with status 1.
inline bool stoppedWith(const ChildResult &r, const std::string &text) {
    return r.exited && r.status == 1 && r.out == text;
}

} // namespace vtest
