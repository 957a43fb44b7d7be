// processes.h - child programs: started, their output captured, their time
// watched, their whole process group (job object) ended with them
// (posix.cpp, win32.cpp; their common loop children.h).
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace vhost::platform {

// What a child wrote to one stream: the first and the last `keep` bytes
// are kept, and the total is counted, so a child that prints gigabytes
// costs no more memory than one that prints a page.
class Captured {
  public:
    static constexpr size_t keep = 64 * 1024;
    void add(const char *data, size_t n);
    // Everything kept; when bytes were dropped, a marker line in between.
    std::string text() const;
    bool complete() const { return total == head.size() + tail.size(); }
    bool empty() const { return total == 0; }
    uint64_t total = 0;
    std::string head, tail;
};

// How a child program ended.
struct RunResult {
    bool started = false;    // false: the program could not be started
    std::string error;       // why it could not be started
    Captured out, err;       // its standard output and standard error
    bool exited = false;     // ended by exit (not by a signal or crash)
    int status = -1;         // exit status when exited, else signal/exception code
    bool killed = false;     // ended by us (watch() asked, or an interruption)
    uint64_t peakBytes = 0;  // its peak resident memory (0 when unknown)
    int signalledParent = 0; // a signal it (or its group) sent to this process, ignored
    int stoppedParent = 0;   // this process was stopped while it ran: 1 alone, 2 with others
    double cpuSeconds = 0;   // its processor time, with that of the children it waited for
};

// Run every command of `jobs`, at most `parallel` at a time, each in a
// process group (job object) of its own with standard output and error
// captured. When a child ends, whatever it left running in its group is
// killed, so a background process holding its output does not hold the
// run. `watch(index)` is called about every 100 ms for each running child;
// when it returns true the child's group is killed. done(index, result) is
// called as each one ends (in the calling thread). Returns false, with
// every child killed and reaped, when interrupted() became set.
bool runMany(const std::vector<std::vector<std::string>> &jobs, int parallel,
             const std::function<void(size_t, RunResult &)> &done,
             const std::function<bool(size_t)> &watch = nullptr,
             const std::function<void()> &idle = nullptr);

// Run `call` in a copy of this process (fork) with its standard output
// captured into `out`, for at most `seconds` (0: no limit; the copy is then
// killed); how it ended in `exited`/`status`. False when the system makes
// no such copies (Windows) or one cannot be made.
bool runForked(const std::function<void()> &call, double seconds, std::string &out, bool &exited,
               int &status);

// One job through runMany.
RunResult runCaptured(const std::vector<std::string> &args);

// In a worker, first thing: put what follows, and every process it starts
// however it detaches (a new session, another process group, a daemon),
// into a container the system ends as a whole when the worker ends, is
// ended, or loses its parent. On Linux, a PID namespace of its own (through
// a user namespace where this user may not make one): this process stays
// outside and waits, a process in it reaps orphans, and the returning
// process is the worker; its exit status or signal becomes this process's,
// and a catchable signal user code sends its parent is sent on to the
// bench, as from the worker. Where there is no such container, true is
// not returned and `why` says why (the worker goes on uncontained). On
// Windows the job object the worker runs in already is one: true.
bool containWorker(std::string &why);

} // namespace vhost::platform
