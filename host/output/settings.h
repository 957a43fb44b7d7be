// settings.h - what the user asks of a run's output files.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace vhost {

struct OutputSettings {
    std::string folder = "vulmora-out";
    bool write = true; // false: no files at all
    bool plots = true;
    std::vector<uint8_t> steps; // per step (index s-1): 1 when written; empty: all

    // True when step s (1-based) goes into the CSV and VTU files.
    bool stepWritten(int s) const { return steps.empty() || steps[static_cast<size_t>(s - 1)]; }
    // How many of `total` steps do; 0 when no files are written.
    int stepsWritten(int total) const {
        int n = 0;
        for (int s = 1; write && s <= total; ++s)
            n += stepWritten(s);
        return n;
    }
    bool operator==(const OutputSettings &) const = default;
};

} // namespace vhost
