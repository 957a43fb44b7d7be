// progress.cpp - the bar on a terminal, a line now and then elsewhere.
#include "parent/progress.h"

#include <cstdio>

namespace vhost {

void Progress::running(const std::string &name, int step, int steps) {
    if (!label_.empty()) label_ += ", ";
    label_ += name + " " + std::to_string(step) + "/" + std::to_string(steps);
}

void Progress::draw() {
    const double t = std::chrono::duration<double>(Clock::now() - start_).count();
    if (enabled_ && terminal_ && t >= 1.0) {
        const int width = 30;
        int fill = total_ ? static_cast<int>(width * done_ / total_) : width;
        std::fprintf(
            stderr, "\r[%s%s] %zu/%zu %-40.40s %6.1f s", std::string(size_t(fill), '#').c_str(),
            std::string(size_t(width - fill), '.').c_str(), done_, total_, label_.c_str(), t);
        std::fflush(stderr);
        drawn_ = true;
    } else if (enabled_ && !terminal_ && t >= nextLine_) {
        if (nextLine_ > 0)
            std::fprintf(stderr, "vulmora-host: %.0f s, %zu of %zu entry points done%s%s\n", t,
                         done_, total_, label_.empty() ? "" : "; running ", label_.c_str());
        nextLine_ += 10.0;
    }
    label_.clear();
}

std::string progressLabel(const std::string &name, const std::string &tag) {
    if (tag.empty()) return name;
    std::string what;
    for (size_t k = tag[0] == '.' ? 1 : 0; k < tag.size(); ++k) {
        const bool digit = tag[k] >= '0' && tag[k] <= '9';
        if (digit && !what.empty() && !(what.back() >= '0' && what.back() <= '9')) what += ' ';
        what += tag[k];
    }
    return name + " (" + what + ")";
}

void Progress::finish() {
    if (drawn_) std::fprintf(stderr, "\r%-110s\r", "");
}

} // namespace vhost
