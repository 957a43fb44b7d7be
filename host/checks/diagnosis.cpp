// diagnosis.cpp - a diagnostic worker's file, its addresses and its words
// (diagnosis.h).
#include "checks/diagnosis.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "model/caller.h"
#include "platform/numbers.h"
#include "platform/processes.h"
#include "platform/system.h"
#include "worker/diagnose.h"

namespace vhost {

namespace {

// A number as the worker printed it (%.17g: "nan", "inf" too).
bool number(const std::string &s, double &v) {
    if (s == "nan" || s == "-nan") return v = NAN, true;
    if (s == "inf" || s == "-inf") return v = s[0] == '-' ? -INFINITY : INFINITY, true;
    return parseNumber(s, v);
}

bool hex(const std::string &s, uint64_t &v) {
    if (s.empty() || s.size() > 16 || s.find_first_not_of("0123456789abcdef") != s.npos)
        return false;
    v = std::stoull(s, nullptr, 16);
    return true;
}

} // namespace

bool readDiagnosis(const std::string &path, Diagnosis &d, std::string &error) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return error = "the worker left no diagnosis", false;
    std::string text;
    text.resize(1u << 20);
    in.read(text.data(), std::streamsize(text.size()));
    if (in.gcount() == std::streamsize(text.size()))
        return error = "the diagnosis is 1 MiB or larger", false;
    text.resize(size_t(in.gcount()));
    return parseDiagnosis(text, d, error);
}

bool parseDiagnosis(const std::string &text, Diagnosis &d, std::string &error) {
    d = Diagnosis{};
    std::istringstream lines(text);
    std::string line;
    if (!std::getline(lines, line) || line != kDiagnosisMagic)
        return error = "the diagnosis does not start as one", false;
    bool ended = false;
    while (!ended && std::getline(lines, line)) {
        std::istringstream w(line);
        std::string key, a, b, c;
        w >> key;
        bool ok = true;
        if (key == "at") {
            ok = static_cast<bool>(w >> d.node >> d.step) && d.node >= 0 && d.step >= 0;
        } else if (key == "field") {
            double v = 0;
            ok = static_cast<bool>(w >> a >> b) && number(b, v);
            d.fields.emplace_back(a, v);
        } else if (key == "value") {
            ok = static_cast<bool>(w >> a) && number(a, d.value);
            d.returned = true;
        } else if (key == "trap") {
            ok = static_cast<bool>(w >> a >> d.trapStep >> d.trapNode) &&
                 platform::fpFaultOfWord(a, d.fault);
        } else if (key == "read") {
            ok = static_cast<bool>(w >> a) && hex(a, d.readBits);
            d.read = true;
        } else if (key == "frame") {
            Frame f;
            ok = static_cast<bool>(w >> a >> b) && hex(a, f.offset) && d.frames.size() < 64;
            std::getline(w, c);
            f.symbol = b == "-" ? "" : b;
            f.module = c.empty() ? c : c.substr(1);
            ok = ok && !f.module.empty();
            d.frames.push_back(std::move(f));
        } else if (key == "end") {
            ended = true;
        } else {
            ok = false;
        }
        if (!ok)
            return d = Diagnosis{},
                   error = "the diagnosis has a line it cannot have: " + line.substr(0, 80), false;
    }
    if (!ended) return d = Diagnosis{}, error = "the diagnosis ends early", false;
    return true;
}

// The toolchain's tool that turns addresses into lines, "" when none.
std::string findAddr2line() {
    for (const char *name : {"addr2line", "x86_64-w64-mingw32-addr2line", "addr2line.exe"})
        if (std::string p = platform::programOnPath(name); !p.empty()) return p;
    return "";
}

namespace {

// The address a Windows module (a PE file) prefers to be loaded at, which
// the toolchain's addr2line adds to an offset; 0 for any other file (ELF
// tools take the offset as it is).
uint64_t preferredBase(const std::string &module) {
    std::ifstream in(module, std::ios::binary);
    unsigned char h[1024] = {};
    in.read(reinterpret_cast<char *>(h), sizeof h);
    auto le = [&](size_t at, int bytes) {
        uint64_t v = 0;
        for (int b = bytes - 1; b >= 0; --b)
            v = v << 8 | h[at + size_t(b)];
        return v;
    };
    if (in.gcount() < 64 || h[0] != 'M' || h[1] != 'Z') return 0;
    const size_t pe = le(0x3c, 4), optional = pe + 24;
    if (optional + 32 > sizeof h || std::memcmp(h + pe, "PE\0\0", 4) != 0) return 0;
    const uint64_t magic = le(optional, 2);
    return magic == 0x20b ? le(optional + 24, 8) : magic == 0x10b ? le(optional + 28, 4) : 0;
}

} // namespace

// Each frame's places, a module at a time: `addr2line -a -f -i -C -e
// MODULE OFFSET...` (a call's return address less one: the call's line).
void placeFrames(std::vector<Frame> &frames, const std::string &tool) {
    if (tool.empty()) return;
    std::vector<std::string> modules;
    for (const Frame &f : frames)
        if (std::find(modules.begin(), modules.end(), f.module) == modules.end())
            modules.push_back(f.module);
    for (const std::string &m : modules) {
        std::vector<std::string> args = {tool, "-a", "-f", "-i", "-C", "-e", m};
        const uint64_t base = preferredBase(m);
        std::vector<Frame *> asked;
        for (size_t k = 0; k < frames.size(); ++k)
            if (frames[k].module == m) {
                char a[32];
                std::snprintf(
                    a, sizeof a, "0x%llx",
                    static_cast<unsigned long long>(base + frames[k].offset - (k ? 1 : 0)));
                args.push_back(a);
                asked.push_back(&frames[k]);
            }
        const platform::RunResult r = platform::runCaptured(args);
        if (!r.started || !r.exited || r.status != 0) continue;
        std::istringstream out(r.out.text());
        std::string line;
        int at = -1;
        while (std::getline(out, line)) {
            if (line.rfind("0x", 0) == 0) {
                ++at;
                continue;
            }
            if (at < 0 || size_t(at) >= asked.size()) break;
            std::string where;
            if (!std::getline(out, where)) break;
            Frame::Place p{line, where, 0};
            if (const size_t paren = where.find(" ("); paren != where.npos) where.resize(paren);
            if (const size_t colon = where.rfind(':'); colon != where.npos) {
                p.file = where.substr(0, colon);
                if (!parseInt(where.substr(colon + 1), 0, 1 << 30, p.line)) p.line = 0;
            }
            if (p.function != "??" && p.line > 0) asked[size_t(at)]->places.push_back(p);
        }
    }
}

namespace {

// The forwarder every user library is built with (userfunc/forward.cpp).
bool forwarder(const Frame::Place &p) {
    return std::filesystem::path(p.file).filename() == "forward.cpp";
}

// "nanbirth.c:12": the file's name only.
std::string fileLine(const Frame::Place &p) {
    return std::filesystem::path(p.file).filename().string() + ":" + std::to_string(p.line);
}

std::string moduleOffset(const Frame &f) {
    char o[32];
    std::snprintf(o, sizeof o, "+0x%llx", static_cast<unsigned long long>(f.offset));
    return std::filesystem::path(f.module).filename().string() + o;
}

// Whether `f` is in the user's library (`library`, the path it was loaded by).
bool inLibrary(const Frame &f, const std::string &library) {
    std::error_code ec;
    return f.module == library || std::filesystem::equivalent(f.module, library, ec);
}

} // namespace

// "born in nanbirth.c:12 (invalid operation in log) in log_excess, called
// from func_density (nanbirth.c:30)": the first frame in the library, the
// functions outside it it called on the way (libm's), and its callers in
// the library up to the entry point.
std::string bornText(const Diagnosis &d, const std::string &library) {
    const std::vector<Frame> &fs = d.frames;
    size_t first = 0;
    while (first < fs.size() && !inLibrary(fs[first], library))
        ++first;
    std::string what = platform::fpFaultName(d.fault);
    if (first > 0 && first < fs.size()) {
        // The outermost one the library called (libm's exp), by its symbol,
        // else its module (an implementation chosen at load time has none).
        const Frame &called = fs[first - 1];
        what += " in " + (called.symbol.empty()
                              ? std::filesystem::path(called.module).filename().string()
                              : called.symbol.substr(0, called.symbol.find('+')));
    }
    if (first == fs.size()) {
        const std::string at = fs.empty() ? "an unknown place" : moduleOffset(fs.front());
        return "born outside the library (" + what + ") at " + at;
    }
    std::string t;
    bool head = true;
    for (size_t k = first; k < fs.size() && inLibrary(fs[k], library); ++k) {
        const Frame &f = fs[k];
        if (f.places.empty()) { // by module + offset, and the exported symbol when there is one
            if (head)
                t += "born at " + moduleOffset(f) + " (" + what + ")" +
                     (f.symbol.empty() ? "" : " in " + f.symbol);
            else
                t += ", called from " +
                     (f.symbol.empty() ? moduleOffset(f) : f.symbol + " (" + moduleOffset(f) + ")");
            head = false;
            if (f.symbol.rfind("func_", 0) == 0) break;
            continue;
        }
        for (const Frame::Place &p : f.places) {
            // The library's exported entry point forwards to the user's
            // function: where that one was left by a tail call, the
            // forwarder is the first frame, and the user's line is lost.
            if (forwarder(p)) {
                if (head) t += "born (" + what + ") in a tail call from " + p.function;
                head = false;
                continue;
            }
            t += head ? "born in " + fileLine(p) + " (" + what + ") in " + p.function
                      : ", called from " + p.function + " (" + fileLine(p) + ")";
            head = false;
        }
        const std::string &outer = f.places.empty() ? f.symbol : f.places.back().function;
        if (outer.rfind("func_", 0) == 0) break; // the entry point: the solver's frames follow
    }
    return t;
}

// What the call read that was not a number, "" when nothing.
std::string readText(const Diagnosis &d) {
    if (d.read) {
        double x;
        std::memcpy(&x, &d.readBits, sizeof x);
        Unmarked kind;
        int index = 0;
        return decodeUnmarked(x, kind, index) ? unmarkedName(kind, index) : "an accessor";
    }
    if (!d.fields.empty()) return "the field " + d.fields.front().first;
    return "";
}

} // namespace vhost
