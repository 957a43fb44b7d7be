// state.cpp - checking and reading state files.
#include "replay/state.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>

#include "model/entries.h"
#include "exchange/exchange.h"
#include "platform/files.h"

namespace vhost {

namespace {

constexpr int kTypes = VULMORA_NTYPES;
constexpr uint32_t kSwapped = 0x04030201u;

bool terminated(const char *text, size_t size) {
    return std::memchr(text, 0, size) != nullptr;
}

// A name from the file, fit for a one-line message.
std::string printable(const char *text) {
    std::string out;
    for (const char *p = text; *p && out.size() < 40; ++p)
        out += *p >= 0x20 && *p < 0x7f ? *p : '?';
    return out;
}

std::string num(uint64_t v) {
    return std::to_string(v);
}

// Where the section table of `h` ends.
uint64_t tableEnd(const vulmora_state_header &h) {
    return sizeof(vulmora_state_header) + uint64_t{h.section_count} * sizeof(vulmora_state_section);
}

} // namespace

static_assert(sizeof(vulmora_state_header) % 8 == 0, "the header keeps 8-byte alignment");
static_assert(sizeof(vulmora_state_section) == 48, "section entries are 48 bytes");
static_assert(sizeof(vulmora_state_micro) == 24, "micro records are 24 bytes");
static_assert(sizeof(vulmora_state_name) == 64, "name records are 64 bytes");

void State::Free::operator()(unsigned char *p) const {
    if (image) {
        platform::FileImage whole{p, size};
        platform::freeFileImage(whole);
        return;
    }
    ::operator delete[](p, std::align_val_t(VULMORA_STATE_ALIGN));
}

bool State::parse(const void *bytes, size_t size, std::string &error) {
    *this = State();
    // The copy is 64-byte aligned, so the file's aligned sections are too.
    unsigned char *copy = static_cast<unsigned char *>(
        ::operator new[](size ? size : 1, std::align_val_t(VULMORA_STATE_ALIGN), std::nothrow));
    if (!copy) return error = "out of memory for " + num(size) + " bytes", false;
    if (size) std::memcpy(copy, bytes, size);
    buffer_ = Buffer(copy, Free{size, false});
    size_ = size;
    return check(error);
}

bool State::adopt(platform::FileImage &image, std::string &error) {
    *this = State();
    buffer_ = Buffer(image.data, Free{image.size, true});
    size_ = image.size;
    image = platform::FileImage{};
    return check(error);
}

namespace {

// The header's format: magic, byte order, version and sizes.
bool checkFormat(const vulmora_state_header &h, size_t size, std::string &error) {
    const size_t hs = sizeof(vulmora_state_header);
    if (std::memcmp(h.magic, VULMORA_STATE_MAGIC, 8) != 0)
        return error = "not a state file (no VULMSTAT magic)", false;
    if (h.byte_order == kSwapped)
        return error = "written on a machine of the other byte order; convert it there", false;
    if (h.byte_order != VULMORA_STATE_BYTE_ORDER) return error = "bad byte-order mark", false;
    if (h.version != VULMORA_STATE_VERSION)
        return error = "format version " + num(h.version) + "; this program reads version " +
                       num(VULMORA_STATE_VERSION),
               false;
    if (h.header_size != hs)
        return error = "header size " + num(h.header_size) + ", not " + num(hs), false;
    if (h.file_size != size)
        return error = (size < h.file_size ? "truncated: " : "trailing bytes: ") +
                       std::string("the header says ") + num(h.file_size) +
                       " bytes, the file has " + num(size),
               false;
    return true;
}

// The header's fields: texts terminated, known codes, counts that make
// sense, a section table inside the file.
bool checkFields(const vulmora_state_header &h, size_t size, std::string &error) {
    if (!terminated(h.writer, sizeof h.writer) || !terminated(h.library, sizeof h.library) ||
        !terminated(h.entry, sizeof h.entry) || !terminated(h.stop_text, sizeof h.stop_text))
        return error = "a text field of the header is not terminated", false;
    if (h.entry[0] && std::strcmp(h.entry, "externalcompute") != 0 && !findEntryPoint(h.entry))
        return error = "unknown entry point '" + printable(h.entry) + "'", false;
    if (h.trigger < 0 || h.trigger > VULMORA_TRIGGER_REQUEST)
        return error = "unknown trigger " + std::to_string(h.trigger), false;
    if (h.outcome < 0 || h.outcome > VULMORA_OUTCOME_STOPPED)
        return error = "unknown outcome " + std::to_string(h.outcome), false;
    if (h.nnod < 0 || h.nvnod < 0 || h.nel < 0 || h.nstr1 < 0)
        return error = "a negative count (nnod, nvnod, nel or nstr1)", false;
    if (h.sample_constituents < 0 || h.sample_constituents > 100 || h.sample_auxiliaries < 0 ||
        h.sample_auxiliaries > 100)
        return error = "sample microstructure counts outside 0..100", false;
    if (h.location < -1 || h.location > 2)
        return error = "location " + std::to_string(h.location) +
                       " is none the host sets (-1 registration, 0, 1 nodal, 2 local)",
               false;
    if (h.cur_node < 0 || (h.nnod > 0 && h.cur_node >= h.nnod))
        return error = "cur_node " + std::to_string(h.cur_node) + " is not a node of the mesh",
               false;
    if (h.section_count > VULMORA_SECTION_COUNT)
        return error =
                   num(h.section_count) + " sections; the format has " + num(VULMORA_SECTION_COUNT),
               false;
    if (tableEnd(h) > size) return error = "truncated: the section table ends past the file", false;
    return true;
}

// The id of the section called `name`, or VULMORA_SECTION_COUNT.
int sectionId(const char *name) {
    int id = 0;
    while (id < VULMORA_SECTION_COUNT && std::strcmp(vulmora_state_section_info_of(id).name, name))
        ++id;
    return id;
}

// Items the counts of the header give a section of `extent` (`conn` and
// `points` from the element types, when the file has them); false when
// they give none.
bool expectedItems(const vulmora_state_header &h, int extent, bool types, uint64_t conn,
                   uint64_t points, uint64_t &out) {
    const uint64_t nn = static_cast<uint64_t>(h.nnod);
    switch (extent) {
    case VULMORA_EXTENT_NNOD:
        return out = nn, true;
    case VULMORA_EXTENT_NVNOD:
        return out = static_cast<uint64_t>(h.nvnod), true;
    case VULMORA_EXTENT_NEL:
        return out = static_cast<uint64_t>(h.nel), true;
    case VULMORA_EXTENT_CONN:
        return out = conn, types;
    case VULMORA_EXTENT_POINTS:
        return out = points, types;
    case VULMORA_EXTENT_STRESS:
        if (points && static_cast<uint64_t>(h.nstr1) > UINT64_MAX / points) return false;
        return out = points * static_cast<uint64_t>(h.nstr1), types;
    case VULMORA_EXTENT_LASTP:
        return out = VULMORA_STATE_LASTP_LEN, true;
    case VULMORA_EXTENT_LOC_MICRO:
        return out = VULMORA_LOC_MICRO_LEN, true;
    case VULMORA_EXTENT_NAME_MECHPROP:
        return out = 5 * VULMORA_NAME_MECHPROP_LEN, true;
    case VULMORA_EXTENT_UNIT_MECHPROP:
        return out = 5 * VULMORA_UNIT_MECHPROP_LEN, true;
    case VULMORA_EXTENT_TYPES:
        return out = kTypes, true;
    case VULMORA_EXTENT_SAMPLE_MICRO:
        return out = nn * static_cast<uint64_t>(h.sample_constituents), true;
    case VULMORA_EXTENT_SAMPLE_AUX:
        return out = nn * static_cast<uint64_t>(h.sample_auxiliaries), true;
    default:
        return false; // any number
    }
}

} // namespace

// Every check, on the file's bytes in buffer_; nothing is used before.
bool State::check(std::string &error) {
    const size_t hs = sizeof(vulmora_state_header);
    if (size_ < hs)
        return error =
                   "truncated: " + num(size_) + " bytes, shorter than the header (" + num(hs) + ")",
               false;
    vulmora_state_header h;
    std::memcpy(&h, buffer_.get(), hs);
    if (!checkFormat(h, size_, error) || !checkFields(h, size_, error)) return false;
    header_ = reinterpret_cast<const vulmora_state_header *>(buffer_.get());
    return readTable(h, error) && checkTypes(error) && checkExtents(h, error) &&
           checkIndices(h, error);
}

// Each entry of the section table: a known name, once, of its type,
// aligned, after the table and inside the file.
bool State::readTable(const vulmora_state_header &h, std::string &error) {
    const size_t hs = sizeof(vulmora_state_header);
    for (uint32_t k = 0; k < h.section_count; ++k) {
        vulmora_state_section s;
        std::memcpy(&s, buffer_.get() + hs + k * sizeof s, sizeof s);
        if (!terminated(s.name, sizeof s.name))
            return error = "section " + num(k) + ": name not terminated", false;
        const int id = sectionId(s.name);
        const std::string what = "section '" + printable(s.name) + "': ";
        if (id == VULMORA_SECTION_COUNT) return error = what + "unknown name", false;
        if (sections_[id].data || sections_[id].count) return error = what + "appears twice", false;
        if (s.type != vulmora_state_section_info_of(id).type ||
            s.item_size != vulmora_state_item_size(s.type))
            return error = what + "wrong type or item size", false;
        if (s.offset % VULMORA_STATE_ALIGN)
            return error = what + "offset not 64-byte aligned", false;
        if (s.offset < tableEnd(h)) return error = what + "overlaps the header", false;
        if (s.count > (UINT64_MAX - s.offset) / s.item_size ||
            s.offset + s.count * s.item_size > size_)
            return error = what + "extends past the end of the file", false;
        sections_[id].data = buffer_.get() + s.offset;
        sections_[id].count = s.count;
    }
    return true;
}

// The per-type tables hold counts of nodes and points.
bool State::checkTypes(std::string &error) const {
    const int32_t *types = array<int32_t>(VULMORA_SECTION_el_type);
    if (types && (!data(VULMORA_SECTION_el_nnode) || !data(VULMORA_SECTION_el_ngp)))
        return error = "el_type without the tables el_nnode and el_ngp", false;
    for (int id : {VULMORA_SECTION_el_nnode, VULMORA_SECTION_el_ngp})
        for (uint64_t t = 0; t < count(id); ++t) {
            const int32_t v = array<int32_t>(id)[t];
            if (v < 0 || v > 64)
                return error = std::string(vulmora_state_section_info_of(id).name) + ": " +
                               std::to_string(v) + " is no count of nodes or points",
                       false;
        }
    return true;
}

// Every element's type is known; every section has the items the counts
// give it.
bool State::checkExtents(const vulmora_state_header &h, std::string &error) const {
    const int32_t *types = array<int32_t>(VULMORA_SECTION_el_type);
    const int32_t *nnode = array<int32_t>(VULMORA_SECTION_el_nnode);
    const int32_t *ngp = array<int32_t>(VULMORA_SECTION_el_ngp);
    uint64_t conn = 0, points = 0;
    for (uint64_t e = 0; types && e < count(VULMORA_SECTION_el_type); ++e) {
        if (types[e] < 0 || types[e] >= kTypes)
            return error = "el_type of element " + num(e + 1) + " is " + std::to_string(types[e]) +
                           ", not a type code 0..11",
                   false;
        conn += static_cast<uint64_t>(nnode[types[e]]);
        points += static_cast<uint64_t>(ngp[types[e]]);
    }
    for (int id = 0; id < VULMORA_SECTION_COUNT; ++id) {
        const int extent = vulmora_state_section_info_of(id).extent;
        if (!data(id) || extent == VULMORA_EXTENT_RECORDS || extent == VULMORA_EXTENT_NAMES ||
            extent == VULMORA_EXTENT_TEXT)
            continue;
        const std::string name = vulmora_state_section_info_of(id).name;
        uint64_t want = 0;
        if (!expectedItems(h, extent, types != nullptr, conn, points, want))
            return error = "section '" + name +
                           "': no extent follows from the counts (el_type missing, or overflow)",
                   false;
        if (count(id) != want)
            return error = "section '" + name + "' has " + num(count(id)) +
                           " items; the counts say " + num(want),
                   false;
    }
    return true;
}

// The values later code indexes with: connectivity inside the mesh (rows_
// made from it), look-up and name records of known kinds.
bool State::checkIndices(const vulmora_state_header &h, std::string &error) {
    const int32_t *types = array<int32_t>(VULMORA_SECTION_el_type);
    const int32_t *nnode = array<int32_t>(VULMORA_SECTION_el_nnode);
    if (int32_t *c = array<int32_t>(VULMORA_SECTION_ncon)) {
        rows_.assign(static_cast<size_t>(h.nel), nullptr);
        for (size_t e = 0; e < rows_.size(); ++e) {
            const int32_t len = nnode[types[e]];
            if (len > 0 && c[0] != -1) {
                for (int32_t j = 0; j < len; ++j)
                    if (c[j] < 0 || c[j] >= h.nnod)
                        return error = "ncon: element " + num(e + 1) + " names node index " +
                                       std::to_string(c[j]) + ", outside the mesh",
                               false;
                rows_[e] = c;
            }
            c += len;
        }
    }
    for (size_t k = 0; k < microCount(); ++k) {
        const vulmora_state_micro &m = micro()[k];
        if (m.kind < 0 || m.kind > 1 || m.index < 0 || m.node < 0)
            return error = "micro_values: record " + num(k) + " is not a look-up", false;
    }
    for (uint64_t k = 0; k < count(VULMORA_SECTION_micro_names); ++k) {
        const vulmora_state_name &n = array<vulmora_state_name>(VULMORA_SECTION_micro_names)[k];
        if (n.kind < 0 || n.kind > 1 || n.index < 0 || !terminated(n.name, sizeof n.name))
            return error = "micro_names: record " + num(k) + " is not a name", false;
    }
    return true;
}

bool loadState(const std::string &path, State &state, std::string &error) {
    platform::FileImage image;
    if (!platform::loadFileImage(path, image, error)) return error = path + ": " + error, false;
    const bool ok = image.data ? state.adopt(image, error) : state.parse(nullptr, 0, error);
    return ok || (error = path + ": " + error, false);
}

// Readable by everyone, as the files the emulator writes; the library's
// save makes it whole or not at all.
bool saveState(const std::string &path, const vulmora_state_view &view,
               const vulmora_state_call &call, std::string &error) {
    // Only a state file is ever replaced: a user's file, a device, a FIFO, a
    // folder or a link in its place is left as it is.
    const platform::PathKind kind = platform::pathKind(path);
    std::string magic;
    if (kind == platform::PathKind::Other ||
        (kind == platform::PathKind::Regular &&
         (!platform::readPrefix(path, 8, magic) || magic != VULMORA_STATE_MAGIC)))
        return error = path + " is there and is not a state file: --save-state replaces only a "
                              "state file",
               false;
    std::string part(path.size() + sizeof ".part", '\0');
    const int rc = vulmora_state_save(path.c_str(), 0644, &view, &call, part.data(), part.size());
    const std::string why = std::strerror(errno);
    if (rc == VULMORA_STATE_SAVE_NOT_CREATED) return error = path + ".part: " + why, false;
    if (rc != 0) return error = path + ": cannot write the state (" + why + ")", false;
    return true;
}

std::string triggerName(int trigger) {
    switch (trigger) {
    case VULMORA_TRIGGER_NONFINITE:
        return "non-finite result";
    case VULMORA_TRIGGER_CRASH:
        return "crash";
    case VULMORA_TRIGGER_STOP:
        return "stop";
    case VULMORA_TRIGGER_REQUEST:
        return "on request";
    default:
        return "saved state";
    }
}

std::string outcomeText(const vulmora_state_header &h) {
    char buf[128];
    switch (h.outcome) {
    case VULMORA_OUTCOME_RETURNED: {
        double v;
        std::memcpy(&v, &h.result_bits, sizeof v);
        std::snprintf(buf, sizeof buf, "returned %.17g (bits 0x%016llx)", v,
                      static_cast<unsigned long long>(h.result_bits));
        return buf;
    }
    case VULMORA_OUTCOME_SIGNAL:
        return "crashed (signal or exception code " + std::to_string(h.signal) + ")";
    case VULMORA_OUTCOME_STOPPED:
        return "stopped with exit status 1";
    default:
        return "no outcome recorded";
    }
}

} // namespace vhost
