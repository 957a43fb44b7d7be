// build_record.h - a library's build record (runtime/build_record.h) as the
// bench uses it: read from the library file (never loaded), parsed into
// its lines, shown in one line, and compared with another.
#pragma once

#include <string>
#include <utility>
#include <vector>

namespace vhost {

struct BuildRecord {
    std::string text; // as the library carries it; "" for none
    std::string version, compiler, buildType, flags;
    std::string options, defines; // what the project added to the target
    std::vector<std::pair<std::string, std::string>> sources; // name, SHA-256
    bool empty() const { return text.empty(); }
};

// The library file a run started with: its identity (FileIdentity::text())
// and its build record, as run.txt keeps them.
struct LibraryIdentity {
    std::string file;
    BuildRecord record;
};

// What a library without the section says of itself.
constexpr const char *kNoBuildRecord = "no build record (not built by vulmora_add_user_library)";

// The record of the library file at `path` (empty: it has none); false,
// with the reason, for a file that cannot be read, is no library, or
// whose record is damaged.
bool readBuildRecord(const std::string &path, BuildRecord &record, std::string &error);

// The record of `text` (as the section or run.txt holds it); false when it
// is not one.
bool parseBuildRecord(const std::string &text, BuildRecord &record);

// One line: "myprops.c a1b2c3d4e5f6, GNU 12.2.0, Release" (a hash's first
// 12 digits), or kNoBuildRecord.
std::string buildRecordLine(const BuildRecord &record);

// What changed from `before` to `now`, a line each: "src/a.c: <old> ->
// <new>", sources added and removed, compiler, build type, flags, the
// target's own options and definitions, version.
// Empty when they agree or either has no record.
std::vector<std::string> buildRecordChanges(const BuildRecord &before, const BuildRecord &now);

} // namespace vhost
