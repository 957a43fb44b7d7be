// diagnosis.h - what a diagnostic worker (worker/diagnose.h) left: its
// file read and checked, its addresses made functions, files and lines by
// the toolchain's addr2line, and where the value was born, in words.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "platform/fptrap.h"

namespace vhost {

struct Frame {
    uint64_t offset = 0;
    std::string symbol, module; // symbol "": none exported there
    // Where addr2line puts it, innermost inlined function first; empty when
    // it cannot.
    struct Place {
        std::string function, file;
        int line = 0;
    };
    std::vector<Place> places;
};

// A diagnostic file, read and checked.
struct Diagnosis {
    int node = 0, step = 0;
    std::vector<std::pair<std::string, double>> fields; // not finite at the node
    bool returned = false;
    double value = 0;
    platform::FpFault fault = platform::FpFault::None;
    int trapStep = 0, trapNode = 0;
    bool read = false;
    uint64_t readBits = 0;
    std::vector<Frame> frames;
};

// The diagnosis in the file at `path`, or in `text`; false with the reason
// when it is not one a worker finished (the worker's fault).
bool readDiagnosis(const std::string &path, Diagnosis &d, std::string &error);
bool parseDiagnosis(const std::string &text, Diagnosis &d, std::string &error);

// The toolchain's addr2line on PATH, "" when there is none.
std::string findAddr2line();
// Each frame's places by `tool` (none when it is "").
void placeFrames(std::vector<Frame> &frames, const std::string &tool);

// "born in nanbirth.c:12 (invalid operation in log) in log_excess, called
// from func_density (nanbirth.c:30)": the first frame in the library loaded
// from `library`, the function outside it that it called, and its callers
// in the library up to the entry point; by module + offset where a frame
// has no place.
std::string bornText(const Diagnosis &d, const std::string &library);

// What the call read that was not a number ("constituent 1 (eutectic Si),
// getFraction(1)", "the field t1"), "" when nothing.
std::string readText(const Diagnosis &d);

} // namespace vhost
