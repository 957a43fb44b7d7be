// progress.h - the run's progress on stderr.
#pragma once

#include <chrono>
#include <cstddef>
#include <string>

namespace vhost {

// Progress on stderr, once the run has taken a second: on a terminal a bar
// naming the entry points running and the step each is at; elsewhere (a
// log, CI) a line every ten seconds, so a long run is never silent.
class Progress {
  public:
    Progress(size_t total, bool enabled, bool terminal)
        : total_(total), enabled_(enabled), terminal_(terminal) {}
    // One more worker ended.
    void finished() { ++done_; }
    // Worker `name` is running, at `step` of `steps`.
    void running(const std::string &name, int step, int steps);
    // Show what running() collected since the last draw.
    void draw();
    // Clear the bar, if one was drawn.
    void finish();

  private:
    using Clock = std::chrono::steady_clock;
    Clock::time_point start_ = Clock::now();
    size_t total_, done_ = 0;
    bool enabled_, terminal_, drawn_ = false;
    double nextLine_ = 0;
    std::string label_;
};

// What the progress shows for a worker of entry point `name` whose result
// file carries `tag` (a check's worker: ".units3", ".order"): the name
// alone for the run's own worker, else "density (units 3)", so that two
// workers of one entry point are told apart.
std::string progressLabel(const std::string &name, const std::string &tag);

} // namespace vhost
