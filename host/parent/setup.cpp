// setup.cpp - choosing the library, sizing the run, the scratch folder.
#include "parent/setup.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <filesystem>

#include "model/binding.h"
#include "platform/system.h"
#include "protocol/protocol.h"

namespace vhost {

namespace fs = std::filesystem;

namespace {

// Bytes per node and per element of the sample with every field filled
// (mesh, depth and its class, two time levels, microstructure; per element
// its type, material, volume, kind, connectivity and integration points):
// a worker fills only what its entry point reads, at most this.
constexpr double kSampleBytesPerNode = 3 * 8 + 4 + 4 + 21 * 4 + 5 * 8;
constexpr double kSampleBytesPerElement = 4 * 4 + 8 + 8 * 4 + 8 * (1 + 1 + 6) * 4;
constexpr double kGiB = 1024.0 * 1024.0 * 1024.0;

} // namespace

std::string sizeText(double bytes) {
    char buf[32];
    if (bytes < 0.1 * kGiB)
        std::snprintf(buf, sizeof buf, "%.1f MiB", bytes / (1024.0 * 1024.0));
    else
        std::snprintf(buf, sizeof buf, "%.1f GiB", bytes / kGiB);
    return buf;
}

bool chooseLibrary(std::string &library, std::string &error) {
    std::error_code ec;
    if (library.empty()) {
        for (const std::string &c : defaultLibraryCandidates())
            if (fs::is_regular_file(c, ec)) {
                library = c;
                break;
            }
        if (library.empty()) {
            error = "no default library found (build the target vulmora_examples, or give "
                    "--library)";
            return false;
        }
    }
    const fs::file_status st = fs::status(library, ec);
    const std::string shown = library.size() > 200 ? library.substr(0, 200) + "..." : library;
    if (!fs::exists(st) && (!ec || ec == std::errc::no_such_file_or_directory))
        return error = "no such library: " + shown, false;
    if (ec) return error = "--library " + shown + ": " + ec.message(), false;
    if (!fs::is_regular_file(st)) return error = "--library " + shown + " is not a file", false;
    library = fs::absolute(library, ec).lexically_normal().string();
    return !ec || (error = "--library: " + ec.message(), false);
}

uint64_t scratchBytes(const SampleConfig &o, size_t diskEntries) {
    const ResultShape one =
        ResultShape::values(WorkerKind::Entry, 0, o.nodesPerSide, o.steps, o.materials, o.points());
    return (diskEntries + 1) * one.bytes();
}

bool checkSize(const RunSize &r, size_t entries, size_t diskEntries, const std::string &scratchDir,
               std::string &error) {
    const SampleConfig &o = r.sample;
    const double nnod = std::pow(double(o.nodesPerSide), 3);
    const double nel = std::pow(double(o.nodesPerSide - 1), 3);
    const double sample = nnod * kSampleBytesPerNode + nel * kSampleBytesPerElement;
    const double values = nnod * o.steps * 8.0;
    const double workers = std::min<double>(r.jobs, double(entries) + 1);
    const double memory = sample + double(entries) * values + workers * (sample + 2 * nnod * 8.0);
    const double available = double(platform::availableMemory());
    char buf[1024];
    if (available > 0 && memory > 0.9 * available) {
        std::snprintf(buf, sizeof buf,
                      "the run needs about %s of memory and %s are available: use "
                      "fewer nodes, steps or --jobs",
                      sizeText(memory).c_str(), sizeText(available).c_str());
        return error = buf, false;
    }
    if (diskEntries == 0) return true;
    const double scratch = double(scratchBytes(o, diskEntries));
    const double scratchFree = double(platform::freeDiskSpace(scratchDir));
    if (scratch > scratchFree) {
        std::snprintf(buf, sizeof buf, "the workers' results need about %s in %s and %s are free",
                      sizeText(scratch).c_str(), scratchDir.c_str(), sizeText(scratchFree).c_str());
        return error = buf, false;
    }
    if (r.stepsWritten > 0) {
        // Text: ~130 bytes per CSV row, ~150 + 14 per entry point per VTU node.
        const double written = r.stepsWritten;
        const double files = double(diskEntries) * nnod * written * 130.0 +
                             written * (nnod * (150.0 + 14.0 * double(diskEntries)) + nel * 60.0);
        const fs::path where = fs::absolute(r.outputFolder).parent_path();
        const double free = double(platform::freeDiskSpace(where.string()));
        if (files > free) {
            std::snprintf(buf, sizeof buf,
                          "the output files need about %s in %s and %s are free: use "
                          "fewer nodes or steps, or --no-output",
                          sizeText(files).c_str(), where.string().c_str(), sizeText(free).c_str());
            return error = buf, false;
        }
    }
    return true;
}

} // namespace vhost
