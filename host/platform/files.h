// files.h - files, folders and mappings: the scratch folder's, the result
// files the workers share, file images and identities (files_posix.cpp,
// files_win32.cpp).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace vhost::platform {

// The folder for temporary files: TMPDIR (TEMP/TMP on Windows), else the
// system's default; "" with the reason when it is not a usable folder.
// When TMPDIR is not set and `room` is not 0, Linux's shared-memory file
// system (/dev/shm) comes first if it has `room` bytes free: files there
// never go to a disk, and on a virtual machine a disk's cache takes fresh
// memory at a high price for every file written.
std::string tempDirectory(std::string &error, uint64_t room = 0);
// The same choice, from TMPDIR's value (null when unset) and the shared
// memory folder's type, mode and free bytes: the folder in memory, or ""
// for the system's default.
struct MemoryFolder {
    bool tmpfs = false;  // a memory file system, a folder
    bool usable = false; // this user can make folders in it
    bool shared = false; // others can too
    bool sticky = false; // and cannot remove this user's
    uint64_t free = 0;   // bytes
};
bool useMemoryFolder(const char *tmpdir, const MemoryFolder &m, uint64_t room);

// Create a new folder "<parent>/<prefix>XXXXXX" with an unpredictable name
// that only this user can enter (mode 0700); "" with the reason on failure.
std::string makePrivateFolder(const std::string &parent, const std::string &prefix,
                              std::string &error);

// An open file (descriptor or handle); -1 when none.
using FileHandle = intptr_t;

// Create the new regular file `path` (failing when anything exists there,
// links included), readable and writable by this user only, sized to
// `size` bytes of zeros.
FileHandle createExclusive(const std::string &path, uint64_t size, std::string &error);
// Open the existing regular file `path` for reading and writing, not
// following a link, and check its size (kAnySize: any).
constexpr uint64_t kAnySize = UINT64_MAX;
FileHandle openExisting(const std::string &path, uint64_t expectedSize, std::string &error);
// Give the library this process loads the open file `f` through the
// environment variable `name` (a descriptor number); false where the
// system has no such way (Windows: the library's counters stay off).
bool shareWithLibrary(FileHandle f, const char *name);
// Read `n` bytes at `offset`; false when fewer could be read.
bool readAt(FileHandle f, void *buf, size_t n, uint64_t offset);
// All n bytes to the file at `offset`; false on any failure.
bool writeAt(FileHandle f, const void *buf, size_t n, uint64_t offset);
// Why the last file call of this thread that returned false failed, in
// the system's words; with ", the file system is full" where it is.
std::string lastFileError();
// Size of the open file, or UINT64_MAX.
uint64_t fileSize(FileHandle f);
// Let the system take back the memory or disk of bytes [offset, offset +
// size) of `f`, which then read as zeros; its size stays. Only the whole
// pages inside are let go, and nothing where the system cannot (false).
bool releaseFileRange(FileHandle f, uint64_t offset, uint64_t size);
// Whether releaseFileRange can let anything go on this system.
bool releasesFileRanges();
void closeFile(FileHandle f);

// Map the whole open file for reading and writing, shared with every other
// process that maps it; null with the reason on failure.
void *mapShared(FileHandle f, size_t size, std::string &error);
void unmap(void *data, size_t size);

// Take an exclusive lock on the open file; false when another process holds
// one. The lock lasts until the file is closed or the process ends.
bool tryLock(FileHandle f);

// A whole file in this process's memory, private to it: what is written
// there never reaches the file.
struct FileImage {
    unsigned char *data = nullptr; // at least 64-byte aligned; null when empty
    size_t size = 0;
};
// The regular file `path` read into a new image: later changes to the file
// (rewritten, truncated) never reach it. Anything but a regular file (a
// FIFO, a device, a folder) is refused without waiting on it. False with
// the reason (no path).
bool loadFileImage(const std::string &path, FileImage &image, std::string &error);
// Release an image of loadFileImage; it is empty afterwards.
void freeFileImage(FileImage &image);

// The permission bits a folder made now by this user would get (POSIX:
// 0777 less the umask; Windows: 0777, where they mean little).
unsigned newFolderPermissions();

// True when `path` belongs to the user this process runs as (on Windows,
// always: the folder for temporary files is the user's own).
bool ownedByMe(const std::string &path);
// True when `path` is a folder (not a link) as makePrivateFolder makes
// them: this user's, and only this user's to enter (mode 0700; on Windows,
// a folder).
bool isPrivateFolder(const std::string &path);

// Which file is at a path, and which bytes it holds: a build that writes a
// new file at the path changes the first two, one that rewrites it in place
// the others.
struct FileIdentity {
    uint64_t device = 0, inode = 0, size = 0;
    int64_t modified = 0; // ns since the epoch (100 ns on Windows)
    uint64_t hash = 0;    // FNV-1a of the contents; 0 when not asked for
    // The identity as one line of text: "<size> bytes, modified <...>, fnv1a <hex>".
    std::string text() const;
    // The file itself (not its contents): equal for the same unchanged file.
    bool sameFile(const FileIdentity &o) const {
        return device == o.device && inode == o.inode && size == o.size && modified == o.modified;
    }
};
// The identity of the regular file at `path`, its contents hashed when
// `hash`; false with the reason.
bool identifyFile(const std::string &path, bool hash, FileIdentity &id, std::string &error);
// Which file the open `f` is (device and inode, or volume and file index;
// the rest left 0); false when `f` is no open regular file.
bool identifyOpen(FileHandle f, FileIdentity &id);

// FNV-1a over `n` bytes, continuing from `h`.
inline uint64_t fnv1a(const void *data, size_t n, uint64_t h = 0xcbf29ce484222325ull) {
    const auto *p = static_cast<const unsigned char *>(data);
    for (size_t i = 0; i < n; ++i)
        h = (h ^ p[i]) * 0x100000001b3ull;
    return h;
}

// What is at `path`, a link there not followed: nothing, a regular file,
// or anything else (a folder, a device, a FIFO, a link).
enum class PathKind { Missing, Regular, Other };
PathKind pathKind(const std::string &path);
// The first `n` bytes of the regular file at `path` (fewer when it is
// shorter), without waiting on anything else; false when they cannot be read.
bool readPrefix(const std::string &path, size_t n, std::string &out);

// Exchange the two existing paths in one step; false when they could not
// be (or the system cannot: the caller then renames one after the other).
bool exchangePaths(const std::string &a, const std::string &b);

} // namespace vhost::platform
