// capture.cpp - the state of a failing call, written where the user can
// replay it.
//
// Nothing runs at load: every variable here is zero-initialised, and the
// environment is read at the first call of an entry point. Everything on
// the way from a crash signal to the file is async-signal-safe: the path,
// the file name and the stderr line are put together by hand, and the file
// is written by the state writer with write() only.

#include "capture.h"

#include "../exchange/exchange.h"
#include "build_record.h"
#include "os.h"
#include "state_writer.h"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

extern "C" {
int vulmora_capture_mode;
}

namespace {

constexpr int kMaxDepth = 16;   // entry points calling entry points
constexpr int kMaxEntries = 40; // distinct entry points seen triggering
constexpr int kMaxMicro = 256;  // look-ups recorded per call
constexpr int kMaxNames = 8;    // name look-ups recorded per call
constexpr size_t kPathLen = VULMORA_STATE_PATH_LEN;

struct Frame {
    const char *entry;
    int argument;
};

// Everything the capture keeps, in zero-initialised storage.
struct Capture {
    char folder[kPathLen];
    char library[kPathLen];
    char record[VULMORA_RECORD_MAX]; // the library's build record, "" for none
    char atEntry[32];
    int atNode, atCount, atSeen;
    int steps; // calls of func_externalcompute seen: one at the start of every time step
    Frame frames[kMaxDepth];
    int depth;
    const char *seen[kMaxEntries];  // entries that wrote a file ...
    unsigned triggers[kMaxEntries]; // ... and for which triggers (bit per trigger)
    vulmora_state_micro micro[kMaxMicro];
    int microCount;
    bool microOverflow;
    vulmora_state_name names[kMaxNames];
    int nameCount;
    bool lastpSaved;
    int lastp[VULMORA_STATE_LASTP_LEN]; // mic_lastp before a registration call
    char stopText[VULMORA_STATE_TEXT_LEN];
    volatile int writing; // a file is being written (a crash inside it re-raises)
};
Capture g;

// ---- text by hand (no printf in a signal handler) -----------------------------

size_t length(const char *s) {
    size_t n = 0;
    while (s[n])
        ++n;
    return n;
}

// Append `s` to `buf` (of `size` bytes, NUL-terminated) as far as it fits.
void append(char *buf, size_t size, const char *s) {
    size_t n = length(buf);
    while (*s && n + 1 < size)
        buf[n++] = *s++;
    buf[n] = 0;
}

void appendInt(char *buf, size_t size, long long v) {
    char digits[24];
    int k = 0;
    unsigned long long u =
        v < 0 ? 0ull - static_cast<unsigned long long>(v) : static_cast<unsigned long long>(v);
    do {
        digits[k++] = static_cast<char>('0' + u % 10);
        u /= 10;
    } while (u);
    if (v < 0) digits[k++] = '-';
    char out[24];
    for (int j = 0; j < k; ++j)
        out[j] = digits[k - 1 - j];
    out[k] = 0;
    append(buf, size, out);
}

// Why a save failed, in words, without strerror (not safe in a crash).
const char *saveError(int error) {
    switch (error) {
    case EEXIST:
        return "a file of that name is in the way";
    case EISDIR:
        return "a folder of that name is in the way";
    case ENOTDIR:
        return "part of the path is not a folder";
    case ENOENT:
        return "no such folder";
    case EACCES:
    case EPERM:
        return "permission denied";
    case ENOSPC:
        return "no space left on the device";
    case EROFS:
        return "a read-only file system";
    case ENAMETOOLONG:
        return "the path is too long";
#ifdef ELOOP
    case ELOOP:
        return "a link is in the way";
#endif
    default:
        return "the system refused";
    }
}

void say(const char *line) {
    (void)vulmora::os::writeSome(2, line, length(line));
}

// ---- which files are written ------------------------------------------------------

const char *triggerWord(int trigger) {
    switch (trigger) {
    case VULMORA_TRIGGER_NONFINITE:
        return "nonfinite";
    case VULMORA_TRIGGER_CRASH:
        return "crash";
    case VULMORA_TRIGGER_STOP:
        return "stop";
    default:
        return "request";
    }
}

// True the first time `entry` comes with `trigger`; marks it taken.
bool firstTime(const char *entry, int trigger) {
    const unsigned bit = 1u << trigger;
    for (int k = 0; k < kMaxEntries; ++k) {
        if (!g.seen[k]) {
            g.seen[k] = entry;
            g.triggers[k] = bit;
            return true;
        }
        if (g.seen[k] == entry || std::strcmp(g.seen[k], entry) == 0) {
            if (g.triggers[k] & bit) return false;
            g.triggers[k] |= bit;
            return true;
        }
    }
    return false;
}

// The exchange block as it stands, with mic_lastp as the call found it.
void viewOfBlock(vulmora_state_view &v) {
    std::memset(&v, 0, sizeof v);
    v.nnod = nnod, v.nvnod = nvnod, v.nel = nel, v.nstr1 = nstr1, v.two_d = TWO_D;
    v.cur_node = cur_node, v.location = location;
    v.user_unit_temp = user_unit_temp, v.user_unit_coor = user_unit_coor;
    v.user_unit_thermalconductivity = user_unit_thermalconductivity;
    v.user_unit_time = user_unit_time, v.user_unit_heatflux = user_unit_heatflux;
    v.user_unit_heattransfercoeff = user_unit_heattransfercoeff;
    v.user_unit_velocity = user_unit_velocity, v.user_unit_massflowrate = user_unit_massflowrate;
    v.tnodecontrol = tnodecontrol, v.vnodecontrol = vnodecontrol;
    v.stress_scale = stress_scale, v.func_temp = func_temp, v.loc_poro = loc_poro;
    v.mic_models = micModelsA, v.mic_cnt = micCNTA;
    const void **d = v.data;
    // Every array of the block, by its own name.
#define VULMORA_CAPTURE_ARRAY(name, type, extent) d[VULMORA_SECTION_##name] = name;
    VULMORA_STATE_BLOCK_SECTIONS(VULMORA_CAPTURE_ARRAY)
#undef VULMORA_CAPTURE_ARRAY
    if (g.lastpSaved) d[VULMORA_SECTION_mic_lastp] = g.lastp; // as the call found it
    if (g.microCount) {
        d[VULMORA_SECTION_micro_values] = g.micro;
        v.micro_count = static_cast<uint32_t>(g.microCount);
    }
    if (g.nameCount) {
        d[VULMORA_SECTION_micro_names] = g.names;
        v.name_count = static_cast<uint32_t>(g.nameCount);
    }
    if (g.record[0]) {
        d[VULMORA_SECTION_build_record] = g.record;
        v.record_length = static_cast<uint32_t>(length(g.record));
    }
}

// Write the file of the innermost call for `trigger`, once per entry point
// and trigger; `what` ends the stderr line. Async-signal-safe.
void save(int trigger, int outcome, uint64_t bits, int signal, const char *what) {
    if (g.depth <= 0 || g.writing) return;
    const Frame &f = g.frames[(g.depth < kMaxDepth ? g.depth : kMaxDepth) - 1];
    if (!firstTime(f.entry, trigger)) return;
    g.writing = 1;
    // Static, so that a crash handler running on a small stack has room.
    static char path[kPathLen + 128], part[kPathLen + 136], line[kPathLen + 512];
    path[0] = part[0] = line[0] = 0;
    append(path, sizeof path, g.folder);
    append(path, sizeof path, "/vulmora-");
    appendInt(path, sizeof path, vulmora::os::processId());
    append(path, sizeof path, "-");
    append(path, sizeof path, f.entry);
    append(path, sizeof path, "-");
    append(path, sizeof path, triggerWord(trigger));
    append(path, sizeof path, ".vstate");

    vulmora_state_view v;
    viewOfBlock(v);
    vulmora_state_call c;
    std::memset(&c, 0, sizeof c);
    c.writer = "libvulmora capture";
    c.library = g.library;
    c.entry = f.entry;
    c.argument = f.argument;
    c.trigger = trigger;
    c.outcome = outcome;
    c.signal = signal;
    c.result_bits = bits;
    c.step = g.steps; // 1 for the first time step; 0: no step began in this process
    c.micro_complete = g.microOverflow ? 0 : 1;
    c.stop_text = outcome == VULMORA_OUTCOME_STOPPED ? g.stopText : nullptr;

    append(line, sizeof line, "vulmora capture: func_");
    append(line, sizeof line, f.entry);
    append(line, sizeof line, "(");
    appendInt(line, sizeof line, f.argument);
    append(line, sizeof line, ") ");
    append(line, sizeof line, what);
    const int saved = vulmora_state_save(path, 0600, &v, &c, part, sizeof part);
    const int error = errno;
    append(line, sizeof line, saved == 0 ? ": state saved in " : ": could not save the state in ");
    append(line, sizeof line, path);
    if (saved != 0) {
        // Which file could not be made or replaced, and why.
        append(line, sizeof line, saved == VULMORA_STATE_SAVE_NOT_CREATED ? " (creating " : " (");
        if (saved == VULMORA_STATE_SAVE_NOT_CREATED) append(line, sizeof line, part);
        if (saved == VULMORA_STATE_SAVE_NOT_CREATED) append(line, sizeof line, ": ");
        append(line, sizeof line, saveError(error));
        append(line, sizeof line, ")");
    }
    append(line, sizeof line, "\n");
    say(line);
    g.writing = 0;
}

// ---- crashes ----------------------------------------------------------------------

// Save the state of the call the crash came in; the OS layer then lets the
// process die as it would have.
void crashed(vulmora::os::Crash kind, long long code) {
    char what[64] = "";
    append(what, sizeof what,
           kind == vulmora::os::Crash::exception ? "crashed with exception "
                                                 : "crashed with signal ");
    appendInt(what, sizeof what, code);
    if (kind == vulmora::os::Crash::abort) append(what, sizeof what, " (abort)");
    save(VULMORA_TRIGGER_CRASH, VULMORA_OUTCOME_SIGNAL, 0, static_cast<int>(code), what);
}

// ---- the first call ---------------------------------------------------------------

// VULMORA_CAPTURE_AT=<entry>:<node>[:<n>], entry with or without func_.
void parseAt(const char *at) {
    if (!at) return;
    if (std::strncmp(at, "func_", 5) == 0) at += 5;
    const char *colon = std::strchr(at, ':');
    char *end = nullptr;
    long node = 0, n = 1;
    if (colon && colon > at && static_cast<size_t>(colon - at) < sizeof g.atEntry) {
        node = std::strtol(colon + 1, &end, 10);
        if (end == colon + 1)
            end = nullptr; // no digits
        else if (*end == ':')
            n = std::strtol(end + 1, &end, 10);
    }
    if (!end || *end || node < -2147483647L || node > 2147483647L || n < 1 || n > 2147483647L) {
        say("vulmora capture: VULMORA_CAPTURE_AT is not <entry>:<node>[:<n>]; ignored\n");
        return;
    }
    std::memcpy(g.atEntry, at, static_cast<size_t>(colon - at));
    g.atNode = static_cast<int>(node);
    g.atCount = static_cast<int>(n);
}

void activate() {
    const char *folder = std::getenv("VULMORA_CAPTURE");
    if (!folder || !*folder || length(folder) + 1 > sizeof g.folder) {
        // A request without the folder to save in would do nothing, silently.
        const char *at = std::getenv("VULMORA_CAPTURE_AT");
        if (at && *at && (!folder || !*folder))
            say("vulmora capture: VULMORA_CAPTURE_AT needs VULMORA_CAPTURE=<folder> as well "
                "(where the state is saved); ignored\n");
        vulmora_capture_mode = VULMORA_CAPTURE_DORMANT;
        return;
    }
    append(g.folder, sizeof g.folder, folder);
    parseAt(std::getenv("VULMORA_CAPTURE_AT"));
    vulmora::os::libraryPath(reinterpret_cast<const void *>(&vulmora_capture_enter), g.library,
                             sizeof g.library);
    // The library's own build record, read from its file now (not in a
    // crash): a library built by hand has none, and its files none either.
    char why[8];
    if (g.library[0] && vulmora_record_read(g.library, g.record, sizeof g.record, why,
                                            sizeof why) != VULMORA_RECORD_FOUND)
        g.record[0] = 0;
    vulmora::os::catchCrashes(crashed);
    vulmora_capture_mode = VULMORA_CAPTURE_ACTIVE;
}

} // namespace

extern "C" {

void vulmora_capture_enter(const char *entry, int argument) {
    if (vulmora_capture_mode == 0) activate();
    if (vulmora_capture_mode != VULMORA_CAPTURE_ACTIVE) return;
    if (g.depth >= kMaxDepth) { // too deep to follow: count it, record nothing
        ++g.depth;
        return;
    }
    if (g.depth == 0) { // what the outermost call obtains, its inner calls' included
        g.microCount = 0;
        g.microOverflow = false;
        g.nameCount = 0;
        // A registration call writes its marks into mic_lastp: keep what it saw.
        g.lastpSaved = location == -1 && mic_lastp;
        if (g.lastpSaved) std::memcpy(g.lastp, mic_lastp, sizeof g.lastp);
    }
    if (g.depth == 0 && std::strcmp(entry, "externalcompute") == 0) ++g.steps;
    g.frames[g.depth++] = {entry, argument};
    if (g.atEntry[0] && argument == g.atNode && std::strcmp(entry, g.atEntry) == 0 &&
        ++g.atSeen == g.atCount)
        save(VULMORA_TRIGGER_REQUEST, VULMORA_OUTCOME_NONE, 0, 0, "as requested");
}

double vulmora_capture_leave(double result) {
    if (vulmora_capture_mode != VULMORA_CAPTURE_ACTIVE || g.depth <= 0) return result;
    if (g.depth <= kMaxDepth && !std::isfinite(result)) {
        uint64_t bits;
        std::memcpy(&bits, &result, sizeof bits);
        save(VULMORA_TRIGGER_NONFINITE, VULMORA_OUTCOME_RETURNED, bits, 0,
             std::isnan(result) ? "returned NaN" : "returned an infinite value");
    }
    if (--g.depth == 0) g.lastpSaved = false;
    return result;
}

void vulmora_capture_leave_void(void) {
    if (vulmora_capture_mode == VULMORA_CAPTURE_ACTIVE && g.depth > 0 && --g.depth == 0)
        g.lastpSaved = false;
}

void vulmora_capture_record_micro(int kind, int index, int node, double value) {
    if (g.depth <= 0) return;
    if (g.microCount >= kMaxMicro) {
        g.microOverflow = true;
        return;
    }
    g.micro[g.microCount++] = {kind, index, node, 0, value};
}

void vulmora_capture_record_name(int kind, int index, const char *name) {
    if (g.depth <= 0 || g.nameCount >= kMaxNames) return;
    vulmora_state_name &n = g.names[g.nameCount++];
    n.kind = kind;
    n.index = index;
    size_t k = 0;
    for (; name && name[k] && k + 1 < sizeof n.name; ++k)
        n.name[k] = name[k];
    for (; k < sizeof n.name; ++k)
        n.name[k] = 0;
}

// Called by vulmora_stop before it prints and exits.
void vulmora_capture_stop(const char *format, va_list args) {
    if (vulmora_capture_mode != VULMORA_CAPTURE_ACTIVE || g.depth <= 0) return;
    std::vsnprintf(g.stopText, sizeof g.stopText, format, args);
    save(VULMORA_TRIGGER_STOP, VULMORA_OUTCOME_STOPPED, 0, 0, "stopped");
}

} // extern "C"
