// record_test.cpp - the build record: read from a library's file (ELF as
// built here, PE as a linker lays it out), every damaged or foreign file
// refused without reading past its end, and the changes between two
// records named.
#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "hostlib/host_run.h"
#include "model/build_record.h"

namespace {

using vhost::BuildRecord;

template <class T> void put(std::string &b, size_t at, T v) {
    std::memcpy(b.data() + at, &v, sizeof v); // little-endian, as both formats are here
}
template <class T> T get(const std::string &b, size_t at) {
    T v;
    std::memcpy(&v, b.data() + at, sizeof v);
    return v;
}

// The offset of the 64-bit ELF section header named `name`, read here
// independently of the reader under test.
size_t elfSection(const std::string &elf, const char *name) {
    const auto shoff = get<uint64_t>(elf, 40);
    const auto count = get<uint16_t>(elf, 60), names = get<uint16_t>(elf, 62);
    const uint64_t strtab = get<uint64_t>(elf, shoff + names * 64u + 24);
    for (size_t k = 0; k < count; ++k)
        if (std::strcmp(elf.c_str() + strtab + get<uint32_t>(elf, shoff + k * 64), name) == 0)
            return shoff + k * 64;
    return 0;
}

// A PE image: MZ stub, COFF header, a 240-byte optional header, the
// sections .text and `name` (the record, raw data padded to 512 bytes).
constexpr size_t kTable = 0x80 + 24 + 240;
std::string peImage(const std::string &record, const char *name = ".vmrec") {
    std::string b(0x400 + 512, '\0');
    b[0] = 'M', b[1] = 'Z';
    put<uint32_t>(b, 0x3c, 0x80);
    std::memcpy(b.data() + 0x80, "PE\0\0", 4);
    put<uint16_t>(b, 0x80 + 4, 0x8664);
    put<uint16_t>(b, 0x80 + 6, 2);
    put<uint16_t>(b, 0x80 + 20, 240);
    std::memcpy(b.data() + kTable, ".text", 5);
    std::memcpy(b.data() + kTable + 40, name, std::strlen(name));
    put<uint32_t>(b, kTable + 40 + 8, static_cast<uint32_t>(record.size()));
    put<uint32_t>(b, kTable + 40 + 16, 512);
    put<uint32_t>(b, kTable + 40 + 20, 0x400);
    std::memcpy(b.data() + 0x400, record.data(), record.size());
    return b;
}

const std::string kRecord = "vulmora 1.2.3\ncompiler GNU 12.2.0\nbuild-type Release\nflags -O3\n"
                            "source src/a.c " +
                            std::string(64, 'a') + "\n";

// A file's bytes, then: read (with the record's first line), none, or
// refused (with the reason).
struct Case {
    const char *name;
    std::function<std::string(std::string elf)> bytes;
    enum { Read, None, Refused } expect;
    const char *says; // the record's first line, or a part of the reason
};

TEST(BuildRecord, FoundNoneOrRefusedWithoutReadingPastTheEnd) {
    const std::string elf = vtest::slurp(HOSTLIB_KNOWN);
    ASSERT_GT(elfSection(elf, ".vmrec"), 0u) << "the library has no .vmrec section";
    const auto patched = [](size_t field, uint64_t value) {
        return [=](std::string b) {
            put<uint64_t>(b, elfSection(b, ".vmrec") + field, value);
            return b;
        };
    };
    const Case cases[] = {
        {"ELF as built", [](std::string b) { return b; }, Case::Read, "vulmora "},
        {"ELF, section data past the end", patched(24, 1ull << 40), Case::Refused,
         "lies outside the file"},
        {"ELF, section size past the end", patched(32, ~0ull >> 1), Case::Refused,
         "lies outside the file"},
        {"ELF cut in its section headers", [](std::string b) { return b.substr(0, b.size() - 70); },
         Case::Refused, "section headers lie outside the file"},
        {"ELF cut after its header", [](std::string b) { return b.substr(0, 40); }, Case::Refused,
         "a truncated ELF file"},
        {"ELF with the section renamed",
         [](std::string b) {
             const size_t names = get<uint16_t>(b, 62);
             const uint64_t strtab = get<uint64_t>(b, get<uint64_t>(b, 40) + names * 64u + 24);
             return b.replace(strtab + get<uint32_t>(b, elfSection(b, ".vmrec")), 6, ".other");
         },
         Case::None, ""},
        {"ELF whose record is no text",
         [](std::string b) {
             return b.replace(get<uint64_t>(b, elfSection(b, ".vmrec") + 24) + 3, 1, "\x01");
         },
         Case::Refused, "its build record is damaged"},
        {"PE as linked", [](std::string) { return peImage(kRecord); }, Case::Read, "vulmora 1.2.3"},
        {"PE without the section", [](std::string) { return peImage(kRecord, ".rdata"); },
         Case::None, ""},
        {"PE, raw data past the end",
         [](std::string) {
             std::string b = peImage(kRecord);
             put<uint32_t>(b, kTable + 40 + 20, 0x7fffff00);
             return b;
         },
         Case::Refused, "lies outside the file"},
        {"PE cut in its section table",
         [](std::string) { return peImage(kRecord).substr(0, kTable + 50); }, Case::Refused,
         "section table lies outside the file"},
        {"PE header past the end",
         [](std::string) {
             std::string b = peImage(kRecord);
             put<uint32_t>(b, 0x3c, 0x7ffffff0);
             return b;
         },
         Case::Refused, "PE header lies outside the file"},
        {"a C source", [](std::string) { return std::string("double func_density(int);\n"); },
         Case::Refused, "not a library"},
        {"an empty file", [](std::string) { return std::string(); }, Case::Refused,
         "not a library"},
    };
    vtest::PrivateFolder dir("record_test");
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        const auto path = dir.path / "lib.so";
        std::ofstream(path, std::ios::binary | std::ios::trunc) << c.bytes(elf);
        BuildRecord r;
        std::string error;
        const bool read = vhost::readBuildRecord(path.string(), r, error);
        EXPECT_EQ(read, c.expect != Case::Refused) << error;
        EXPECT_EQ(r.empty(), c.expect != Case::Read);
        if (c.expect == Case::Read) {
            EXPECT_EQ(r.text.substr(0, std::strlen(c.says)), c.says);
        } else if (c.expect == Case::Refused) {
            EXPECT_NE(error.find(c.says), std::string::npos) << error;
        }
    }
    BuildRecord pe;
    std::string error;
    std::ofstream(dir.path / "pe.dll", std::ios::binary) << peImage(kRecord);
    ASSERT_TRUE(vhost::readBuildRecord((dir.path / "pe.dll").string(), pe, error));
    EXPECT_EQ(vhost::buildRecordLine(pe), "src/a.c aaaaaaaaaaaa, GNU 12.2.0, Release");
}

// Each way two builds differ is named: a source's hashes, sources added
// and removed, the compiler and the flags; none between equal records, nor
// against a library without one.
TEST(BuildRecord, ChangesAreNamed) {
    const std::string b(64, 'b'), c(64, 'c');
    auto edited = [&](const std::string &from, const std::string &to) {
        std::string t = kRecord;
        return t.replace(t.find(from), from.size(), to);
    };
    const struct {
        std::string now;
        std::vector<std::string> changes;
    } cases[] = {
        {kRecord, {}},
        {"", {}},
        {edited(std::string(64, 'a'), b), {"src/a.c: aaaaaaaaaaaa -> bbbbbbbbbbbb"}},
        {kRecord + "source src/b.c " + c + "\n", {"src/b.c: added (cccccccccccc)"}},
        {edited("src/a.c", "src/z.c"), {"src/a.c: removed", "src/z.c: added (aaaaaaaaaaaa)"}},
        {edited("GNU 12.2.0", "Clang 17.0.1"), {"compiler: GNU 12.2.0 -> Clang 17.0.1"}},
        {edited("-O3", "-O0 -g"), {"flags: -O3 -> -O0 -g"}},
        {kRecord + "defines FIXED=1\n", {"the target's definitions: (none) -> FIXED=1"}},
    };
    BuildRecord before;
    ASSERT_TRUE(vhost::parseBuildRecord(kRecord, before));
    for (const auto &k : cases) {
        BuildRecord now;
        if (!k.now.empty()) {
            ASSERT_TRUE(vhost::parseBuildRecord(k.now, now)) << k.now;
        }
        EXPECT_EQ(vhost::buildRecordChanges(before, now), k.changes) << k.now;
    }
}

} // namespace
