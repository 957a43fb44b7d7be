// state_writer.cpp - the one writer of the state file.
//
// Runs inside a crash signal handler too: no heap, no stdio, no locale,
// nothing but write() on a descriptor. Output goes through a small buffer
// on the stack; large arrays are handed to write() straight from the
// host's memory, so a pointer the kernel cannot read makes write() fail
// (EFAULT) instead of faulting here.

#include "state_writer.h"

#include "../exchange/exchange.h"
#include "os.h"

#include <errno.h>
#include <stddef.h>
#include <stdio.h>

namespace {

constexpr int kTypes = VULMORA_NTYPES;

// a * b, or UINT64_MAX when it does not fit.
uint64_t times(uint64_t a, uint64_t b) {
    if (a != 0 && b > UINT64_MAX / a) return UINT64_MAX;
    return a * b;
}

uint64_t count(int32_t n) {
    return n > 0 ? static_cast<uint64_t>(n) : 0;
}

void copyText(char *to, size_t size, const char *from) {
    size_t k = 0;
    if (from)
        for (; k + 1 < size && from[k]; ++k)
            to[k] = from[k];
    for (; k < size; ++k)
        to[k] = 0;
}

// Buffered output to a descriptor; once a write fails, everything fails.
struct Out {
    int fd;
    bool ok = true;
    uint64_t pos = 0;
    size_t used = 0;
    char buf[1024]; // small: this may run on a signal stack

    void flush() {
        size_t done = 0;
        while (ok && done < used) {
            auto n = vulmora::os::writeSome(fd, buf + done, used - done);
            if (n <= 0)
                ok = false;
            else
                done += static_cast<size_t>(n);
        }
        used = 0;
    }
    void put(const void *data, size_t n) {
        const char *p = static_cast<const char *>(data);
        pos += n;
        if (n > sizeof buf / 2) { // large: straight from the caller's memory
            flush();
            while (ok && n > 0) {
                size_t chunk = n > (size_t{1} << 30) ? size_t{1} << 30 : n;
                auto w = vulmora::os::writeSome(fd, p, chunk);
                if (w <= 0)
                    ok = false;
                else
                    p += w, n -= static_cast<size_t>(w);
            }
            return;
        }
        if (used + n > sizeof buf) flush();
        for (size_t k = 0; k < n; ++k)
            buf[used + k] = p[k];
        used += n;
    }
    void padTo(uint64_t offset) {
        static const char zeros[64] = {0};
        while (ok && pos < offset) {
            uint64_t gap = offset - pos;
            put(zeros, gap > sizeof zeros ? sizeof zeros : static_cast<size_t>(gap));
        }
    }
};

// Per-element totals of nodes and integration points; unknown type codes
// count for nothing.
void elementTotals(const vulmora_state_view &v, uint64_t &conn, uint64_t &points) {
    conn = points = 0;
    const auto *types = static_cast<const int32_t *>(v.data[VULMORA_SECTION_el_type]);
    const auto *nnode = static_cast<const int32_t *>(v.data[VULMORA_SECTION_el_nnode]);
    const auto *ngp = static_cast<const int32_t *>(v.data[VULMORA_SECTION_el_ngp]);
    if (!types || !nnode || !ngp) return;
    for (uint64_t e = 0; e < count(v.nel); ++e) {
        const int32_t t = types[e];
        if (t < 0 || t >= kTypes) continue;
        conn += count(nnode[t]);
        points += count(ngp[t]);
    }
}

// Items of section s, or UINT64_MAX when the counts make no sense.
uint64_t extentOf(const vulmora_state_view &v, int extent, uint64_t conn, uint64_t points) {
    switch (extent) {
    case VULMORA_EXTENT_NNOD:
        return count(v.nnod);
    case VULMORA_EXTENT_NVNOD:
        return count(v.nvnod);
    case VULMORA_EXTENT_NEL:
        return count(v.nel);
    case VULMORA_EXTENT_CONN:
        return conn;
    case VULMORA_EXTENT_POINTS:
        return points;
    case VULMORA_EXTENT_STRESS:
        return times(points, count(v.nstr1));
    case VULMORA_EXTENT_LASTP:
        return VULMORA_STATE_LASTP_LEN;
    case VULMORA_EXTENT_LOC_MICRO:
        return VULMORA_LOC_MICRO_LEN;
    case VULMORA_EXTENT_NAME_MECHPROP:
        return 5 * VULMORA_NAME_MECHPROP_LEN;
    case VULMORA_EXTENT_UNIT_MECHPROP:
        return 5 * VULMORA_UNIT_MECHPROP_LEN;
    case VULMORA_EXTENT_TYPES:
        return kTypes;
    case VULMORA_EXTENT_RECORDS:
        return v.micro_count;
    case VULMORA_EXTENT_NAMES:
        return v.name_count;
    case VULMORA_EXTENT_SAMPLE_MICRO:
        return times(count(v.sample_constituents), count(v.nnod));
    case VULMORA_EXTENT_SAMPLE_AUX:
        return times(count(v.sample_auxiliaries), count(v.nnod));
    case VULMORA_EXTENT_TEXT:
        return v.record_length;
    default:
        return UINT64_MAX;
    }
}

uint64_t alignUp(uint64_t x) {
    return (x + VULMORA_STATE_ALIGN - 1) / VULMORA_STATE_ALIGN * VULMORA_STATE_ALIGN;
}

// The planned file: the section table (the sections present, in order of
// their ids, idOf[k] the id of entry k) and the file's size.
struct Plan {
    vulmora_state_section table[VULMORA_SECTION_COUNT];
    int idOf[VULMORA_SECTION_COUNT];
    uint32_t n;
    uint64_t end;
};

// Place every section the view has, one after another from the end of the
// (full-size) table, each 64-byte aligned.
void plan(const vulmora_state_view &v, Plan &p) {
    uint64_t conn, points;
    elementTotals(v, conn, points);
    p.n = 0;
    uint64_t at = alignUp(sizeof(vulmora_state_header) +
                          sizeof(vulmora_state_section) * VULMORA_SECTION_COUNT);
    for (int s = 0; s < VULMORA_SECTION_COUNT; ++s) {
        if (!v.data[s]) continue;
        const uint64_t items = extentOf(v, vulmora_state_section_info_of(s).extent, conn, points);
        const uint32_t size = vulmora_state_item_size(vulmora_state_section_info_of(s).type);
        const uint64_t bytes = times(items, size);
        if (items == UINT64_MAX || bytes == UINT64_MAX || bytes > UINT64_MAX / 2 - at)
            continue; // counts no host array can have: left out
        vulmora_state_section &t = p.table[p.n];
        copyText(t.name, sizeof t.name, vulmora_state_section_info_of(s).name);
        t.type = vulmora_state_section_info_of(s).type;
        t.item_size = size;
        t.count = items;
        t.offset = at;
        p.idOf[p.n++] = s;
        at = alignUp(at + bytes);
    }
    // The table's unused tail stays in the file (zeros), so the data start
    // where the writer planned whatever the number of sections.
    for (uint32_t k = p.n; k < VULMORA_SECTION_COUNT; ++k) {
        copyText(p.table[k].name, sizeof p.table[k].name, nullptr);
        p.table[k].type = p.table[k].item_size = 0;
        p.table[k].count = p.table[k].offset = 0;
    }
    p.end = at;
}

// The header: the format's marks, the plan's sizes, the view's counts and
// scalars, the call.
void fillHeader(vulmora_state_header &h, const vulmora_state_view &v,
                const vulmora_state_call &call, const Plan &p) {
    char *raw = reinterpret_cast<char *>(&h);
    for (size_t k = 0; k < sizeof h; ++k)
        raw[k] = 0;
    for (int k = 0; k < 8; ++k)
        h.magic[k] = VULMORA_STATE_MAGIC[k];
    h.version = VULMORA_STATE_VERSION;
    h.byte_order = VULMORA_STATE_BYTE_ORDER;
    h.header_size = sizeof h;
    h.section_count = p.n;
    h.file_size = p.end;
    copyText(h.writer, sizeof h.writer, call.writer);
    copyText(h.library, sizeof h.library, call.library);
    h.nnod = v.nnod, h.nvnod = v.nvnod, h.nel = v.nel, h.nstr1 = v.nstr1, h.two_d = v.two_d;
    h.cur_node = v.cur_node, h.location = v.location;
    h.user_unit_temp = v.user_unit_temp, h.user_unit_coor = v.user_unit_coor;
    h.user_unit_thermalconductivity = v.user_unit_thermalconductivity;
    h.user_unit_time = v.user_unit_time, h.user_unit_heatflux = v.user_unit_heatflux;
    h.user_unit_heattransfercoeff = v.user_unit_heattransfercoeff;
    h.user_unit_velocity = v.user_unit_velocity;
    h.user_unit_massflowrate = v.user_unit_massflowrate;
    h.tnodecontrol = v.tnodecontrol, h.vnodecontrol = v.vnodecontrol;
    h.stress_scale = v.stress_scale, h.func_temp = v.func_temp, h.loc_poro = v.loc_poro;
    h.mic_models = static_cast<uint64_t>(reinterpret_cast<uintptr_t>(v.mic_models));
    h.mic_cnt = static_cast<uint64_t>(reinterpret_cast<uintptr_t>(v.mic_cnt));
    copyText(h.entry, sizeof h.entry, call.entry);
    h.argument = call.argument, h.trigger = call.trigger, h.outcome = call.outcome;
    h.signal = call.signal, h.result_bits = call.result_bits, h.step = call.step;
    h.micro_complete = call.micro_complete;
    h.sample_constituents = v.sample_constituents, h.sample_auxiliaries = v.sample_auxiliaries;
    copyText(h.stop_text, sizeof h.stop_text, call.stop_text);
}

// The connectivity row by row; a missing row reads as node index -1.
void putRows(Out &out, const vulmora_state_view &v) {
    const auto *rows = static_cast<const int32_t *const *>(v.data[VULMORA_SECTION_ncon]);
    const auto *types = static_cast<const int32_t *>(v.data[VULMORA_SECTION_el_type]);
    const auto *nnode = static_cast<const int32_t *>(v.data[VULMORA_SECTION_el_nnode]);
    for (uint64_t e = 0; types && nnode && e < count(v.nel) && out.ok; ++e) {
        const int32_t t = types[e];
        if (t < 0 || t >= kTypes) continue;
        const uint64_t len = count(nnode[t]);
        if (rows[e]) {
            out.put(rows[e], static_cast<size_t>(len) * 4);
        } else {
            const int32_t none = -1;
            for (uint64_t j = 0; j < len; ++j)
                out.put(&none, 4);
        }
    }
}

} // namespace

extern "C" int vulmora_state_write(int fd, const vulmora_state_view *view,
                                   const vulmora_state_call *call) {
    const vulmora_state_view &v = *view;
    Plan p;
    plan(v, p);
    vulmora_state_header h;
    fillHeader(h, v, *call, p);
    Out out;
    out.fd = fd;
    out.put(&h, sizeof h);
    out.put(p.table, sizeof p.table);
    for (uint32_t k = 0; k < p.n && out.ok; ++k) {
        out.padTo(p.table[k].offset);
        const int s = p.idOf[k];
        if (s == VULMORA_SECTION_ncon)
            putRows(out, v);
        else
            out.put(v.data[s], static_cast<size_t>(p.table[k].count * p.table[k].item_size));
    }
    out.padTo(p.end);
    out.flush();
    return out.ok ? 0 : -1;
}

namespace {

// "<path>.part" into `part` (of `size` bytes); false when it does not fit.
bool partName(const char *path, char *part, size_t size) {
    const char suffix[] = ".part";
    size_t n = 0;
    for (; path[n]; ++n) {
        if (n + 1 >= size) return false;
        part[n] = path[n];
    }
    for (size_t k = 0; k < sizeof suffix; ++k, ++n) {
        if (n >= size) return false;
        part[n] = suffix[k];
    }
    return true;
}

} // namespace

// The partial file is created exclusively, so a file or a link planted
// under its name is never written through; errno of the first failure is
// kept across the clean-up.
extern "C" int vulmora_state_save(const char *path, unsigned mode, const vulmora_state_view *view,
                                  const vulmora_state_call *call, char *part, size_t part_size) {
    if (!partName(path, part, part_size)) {
        errno = ENAMETOOLONG;
        return VULMORA_STATE_SAVE_NOT_CREATED;
    }
    const int fd = vulmora::os::createExclusive(part, mode);
    if (fd < 0) return VULMORA_STATE_SAVE_NOT_CREATED;
    bool ok = vulmora_state_write(fd, view, call) == 0;
    int error = errno;
    if (vulmora::os::closeFile(fd) != 0 && ok) ok = false, error = errno;
    if (ok && rename(part, path) != 0) ok = false, error = errno;
    if (ok) return 0;
    vulmora::os::removeFile(part);
    errno = error;
    return VULMORA_STATE_SAVE_NOT_WRITTEN;
}
