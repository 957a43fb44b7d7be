// path_table_fuzz.cpp - the reader of path tables on any bytes.
//
// Whatever the input, readPathTable() either refuses it with one line, or
// the path it read has a point at least, as many values in every column
// of the table as points, every value finite, and temperatures above
// absolute zero, strictly falling or strictly rising.

#include "host/model/path.h"

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    vhost::Path p;
    std::vector<bool> given;
    std::string error;
    const std::string_view text(reinterpret_cast<const char *>(data), size);
    const auto kelvin = [](int sel, double t) { return sel == 2 ? t + 273.0 : t; };
    if (!vhost::readPathTable(text, 1, kelvin, p, given, error)) {
        if (error.empty() || error.find('\n') != std::string::npos) std::abort();
        return 0;
    }
    const size_t n = p.points();
    if (n == 0 || n > vhost::kMaxPathPoints || !given[vhost::column::t1]) std::abort();
    for (size_t c = 0; c < vhost::column::kCount; ++c) {
        if (p.values[c].size() != (given[c] ? n : 0)) std::abort();
        for (double v : p.values[c])
            if (!std::isfinite(v)) std::abort();
    }
    const std::vector<double> &T = p.values[vhost::column::t1];
    for (size_t i = 0; i < n; ++i)
        if (!(T[i] > 0) || (i > 1 && (T[i] - T[i - 1]) * (T[1] - T[0]) <= 0)) std::abort();
    return 0;
}
