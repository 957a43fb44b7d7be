// build_record.cpp - the section .vmrec of an ELF or PE file, read with
// stdio and checked against the file at every step.
#include "build_record.h"

#include <stdint.h>
#include <stdio.h>
#include <string.h>

namespace {

struct File {
    FILE *f;
    uint64_t size;
};

// `n` bytes at `offset`, only when they lie inside the file.
bool readAt(const File &file, uint64_t offset, void *data, size_t n) {
    if (offset > file.size || n > file.size - offset) return false;
#ifdef _WIN32
    if (_fseeki64(file.f, static_cast<long long>(offset), SEEK_SET) != 0) return false;
#else
    if (fseeko(file.f, static_cast<off_t>(offset), SEEK_SET) != 0) return false;
#endif
    return fread(data, 1, n, file.f) == n;
}

uint64_t le(const unsigned char *p, int n) {
    uint64_t v = 0;
    for (int k = n - 1; k >= 0; --k)
        v = v << 8 | p[k];
    return v;
}

uint64_t be(const unsigned char *p, int n) {
    uint64_t v = 0;
    for (int k = 0; k < n; ++k)
        v = v << 8 | p[k];
    return v;
}

struct Result {
    int code;
    const char *why;
};
constexpr Result kFound{VULMORA_RECORD_FOUND, ""};
constexpr Result kNone{VULMORA_RECORD_NONE, ""};
Result bad(const char *why) {
    return {VULMORA_RECORD_BAD, why};
}

// The section's bytes, up to their first NUL, into `text`.
Result copySection(const File &file, uint64_t offset, uint64_t length, char *text, size_t size) {
    if (offset > file.size || length > file.size - offset)
        return bad("its build record section lies outside the file (truncated?)");
    if (length >= size) return bad("its build record section is too large");
    if (!readAt(file, offset, text, static_cast<size_t>(length)))
        return bad("its build record section cannot be read");
    text[length] = 0;
    return kFound;
}

// ELF: the section headers, and the names in the section-name table.
Result readElf(const File &file, const unsigned char *h, char *text, size_t size) {
    const bool wide = h[4] == 2;
    if ((h[4] != 1 && h[4] != 2) || (h[5] != 1 && h[5] != 2))
        return bad("an ELF file of unknown class or byte order");
    auto num = [&](const unsigned char *p, int n) { return h[5] == 1 ? le(p, n) : be(p, n); };
    const uint64_t shoff = wide ? num(h + 40, 8) : num(h + 32, 4);
    const uint64_t entsize = num(h + (wide ? 58 : 46), 2);
    uint64_t count = num(h + (wide ? 60 : 48), 2);
    uint64_t names = num(h + (wide ? 62 : 50), 2);
    if (shoff == 0) return kNone; // no section headers (stripped of them)
    if (entsize < (wide ? 64u : 40u)) return bad("its section headers are of a wrong size");
    unsigned char s[64];
    // A section header at index k: name offset, type, offset, size.
    auto section = [&](uint64_t k, uint64_t &name, uint64_t &type, uint64_t &off, uint64_t &len) {
        if (k >= count) return false;
        if (!readAt(file, shoff + k * entsize, s, wide ? 64 : 40)) return false;
        name = num(s, 4), type = num(s + 4, 4);
        off = wide ? num(s + 24, 8) : num(s + 16, 4);
        len = wide ? num(s + 32, 8) : num(s + 20, 4);
        return true;
    };
    uint64_t name, type, off, len;
    if (count == 0 || names == 0xffff) { // more sections than the header's fields hold
        if (!readAt(file, shoff, s, wide ? 64 : 40))
            return bad("its section headers lie outside the file (truncated?)");
        if (count == 0) count = wide ? num(s + 32, 8) : num(s + 20, 4);
        if (names == 0xffff) names = num(s + (wide ? 40 : 24), 4);
    }
    if (count > (file.size - (shoff < file.size ? shoff : file.size)) / entsize)
        return bad("its section headers lie outside the file (truncated?)");
    if (names >= count) return bad("its section-name table is missing");
    uint64_t namesOff, namesLen;
    if (!section(names, name, type, namesOff, namesLen))
        return bad("its section headers cannot be read");
    if (namesOff > file.size || namesLen > file.size - namesOff)
        return bad("its section-name table lies outside the file (truncated?)");
    const char wanted[] = VULMORA_RECORD_SECTION;
    for (uint64_t k = 1; k < count; ++k) {
        if (!section(k, name, type, off, len)) return bad("its section headers cannot be read");
        char got[sizeof wanted] = {0};
        if (name >= namesLen) return bad("a section's name lies outside the section-name table");
        const uint64_t room = namesLen - name;
        if (!readAt(file, namesOff + name, got, room < sizeof got ? room : sizeof got))
            return bad("its section-name table cannot be read");
        if (memcmp(got, wanted, sizeof wanted) != 0) continue;
        if (type == 8) return bad("its build record section holds no bytes in the file");
        return copySection(file, off, len, text, size);
    }
    return kNone;
}

// PE: the section table after the COFF header and the optional header.
Result readPe(const File &file, const unsigned char *h, char *text, size_t size) {
    const uint64_t pe = le(h + 0x3c, 4);
    unsigned char coff[24];
    if (!readAt(file, pe, coff, sizeof coff)) return bad("its PE header lies outside the file");
    if (memcmp(coff, "PE\0\0", 4) != 0) return bad("an MZ file without a PE header");
    const uint64_t count = le(coff + 6, 2);
    const uint64_t table = pe + 24 + le(coff + 20, 2);
    const char wanted[8] = VULMORA_RECORD_SECTION;
    for (uint64_t k = 0; k < count; ++k) {
        unsigned char s[40];
        if (!readAt(file, table + 40 * k, s, sizeof s))
            return bad("its section table lies outside the file (truncated?)");
        if (memcmp(s, wanted, sizeof wanted) != 0) continue;
        // The raw data is padded to the file's alignment; the virtual
        // size is the section's own.
        const uint64_t virt = le(s + 8, 4), raw = le(s + 16, 4);
        return copySection(file, le(s + 20, 4), virt && virt < raw ? virt : raw, text, size);
    }
    return kNone;
}

void copyText(char *to, size_t size, const char *from) {
    if (!size) return;
    size_t k = 0;
    for (; from[k] && k + 1 < size; ++k)
        to[k] = from[k];
    to[k] = 0;
}

} // namespace

extern "C" int vulmora_record_read(const char *path, char *text, size_t size, char *why,
                                   size_t why_size) {
    if (size) text[0] = 0;
    copyText(why, why_size, "");
    File file{fopen(path, "rb"), 0};
    if (!file.f) {
        copyText(why, why_size, "cannot be opened");
        return VULMORA_RECORD_BAD;
    }
    Result r = bad("cannot be read");
    unsigned char h[64] = {0};
#ifdef _WIN32
    const bool sized = _fseeki64(file.f, 0, SEEK_END) == 0;
    const long long end = sized ? _ftelli64(file.f) : -1;
#else
    const bool sized = fseeko(file.f, 0, SEEK_END) == 0;
    const long long end = sized ? static_cast<long long>(ftello(file.f)) : -1;
#endif
    if (end >= 0) {
        file.size = static_cast<uint64_t>(end);
        if (file.size >= 4 && readAt(file, 0, h, file.size < 64 ? 4 : 64) &&
            memcmp(h,
                   "\x7f"
                   "ELF",
                   4) == 0)
            r = file.size < 64 ? bad("a truncated ELF file") : readElf(file, h, text, size);
        else if (file.size >= 2 && readAt(file, 0, h, 2) && h[0] == 'M' && h[1] == 'Z')
            r = file.size < 64 || !readAt(file, 0, h, 64) ? bad("a truncated PE file")
                                                          : readPe(file, h, text, size);
        else
            r = bad("not a library (neither an ELF nor a PE file)");
    }
    fclose(file.f);
    copyText(why, why_size, r.why);
    if (r.code != VULMORA_RECORD_FOUND && size) text[0] = 0;
    return r.code;
}
