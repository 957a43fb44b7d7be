// files_posix.cpp - files, folders and pages on POSIX systems.
#include "platform/files.h"
#include "platform/pages.h"

#include <vector>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/statvfs.h>
#ifdef __linux__
#include <linux/magic.h>
#include <sys/vfs.h>
#endif
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace vhost::platform {

namespace {

// strerror of the current errno.
std::string lastError() {
    return std::strerror(errno);
}

} // namespace

std::string lastFileError() {
    return lastError() + (errno == ENOSPC || errno == EDQUOT ? ", the file system is full" : "");
}

// ---- files ---------------------------------------------------------------------

bool useMemoryFolder(const char *tmpdir, const MemoryFolder &m, uint64_t room) {
    return !(tmpdir && *tmpdir) && room > 0 && m.tmpfs && m.usable && (m.sticky || !m.shared) &&
           m.free >= room;
}

namespace {
constexpr const char *kMemoryFolder = "/dev/shm";

// What useMemoryFolder needs to know of /dev/shm.
MemoryFolder memoryFolder() {
    MemoryFolder m;
#ifdef __linux__
    struct statfs fsInfo {};
    struct stat st {};
    m.tmpfs = statfs(kMemoryFolder, &fsInfo) == 0 && fsInfo.f_type == TMPFS_MAGIC &&
              lstat(kMemoryFolder, &st) == 0 && S_ISDIR(st.st_mode);
    m.usable = m.tmpfs && access(kMemoryFolder, W_OK | X_OK) == 0;
    m.shared = (st.st_mode & (S_IWGRP | S_IWOTH)) != 0;
    m.sticky = (st.st_mode & S_ISVTX) != 0;
    struct statvfs v {};
    m.free = m.tmpfs && statvfs(kMemoryFolder, &v) == 0 ? uint64_t(v.f_bavail) * v.f_frsize : 0;
#endif
    return m;
}
} // namespace

std::string tempDirectory(std::string &error, uint64_t room) {
    const char *env = std::getenv("TMPDIR");
    if (room > 0 && useMemoryFolder(env, memoryFolder(), room)) return kMemoryFolder;
    std::string dir = env && *env ? env : "/tmp";
    struct stat st {};
    if (stat(dir.c_str(), &st) != 0) {
        error = "the folder for temporary files " + dir + ": " + lastError();
        return "";
    }
    if (!S_ISDIR(st.st_mode)) {
        error = "the folder for temporary files " + dir + " is not a folder";
        return "";
    }
    return dir;
}

std::string makePrivateFolder(const std::string &parent, const std::string &prefix,
                              std::string &error) {
    std::string templ = parent + "/" + prefix + "XXXXXX";
    std::vector<char> buf(templ.begin(), templ.end());
    buf.push_back('\0');
    if (!mkdtemp(buf.data())) {
        error = "cannot make a folder in " + parent + ": " + lastError();
        return "";
    }
    return buf.data();
}

FileHandle createExclusive(const std::string &path, uint64_t size, std::string &error) {
    int fd = open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0) {
        error = path + ": " + lastError();
        return -1;
    }
    if (ftruncate(fd, static_cast<off_t>(size)) != 0) {
        error = path + ": " + lastError();
        close(fd);
        return -1;
    }
    return fd;
}

bool shareWithLibrary(FileHandle f, const char *name) {
    return f >= 0 && setenv(name, std::to_string(f).c_str(), 1) == 0;
}

FileHandle openExisting(const std::string &path, uint64_t expectedSize, std::string &error) {
    int fd = open(path.c_str(), O_RDWR | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) {
        error = path + ": " + lastError();
        return -1;
    }
    struct stat st {};
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) ||
        (expectedSize != kAnySize && static_cast<uint64_t>(st.st_size) != expectedSize)) {
        error = path + ": not the result file this worker was given";
        close(fd);
        return -1;
    }
    return fd;
}

bool readAt(FileHandle f, void *buf, size_t n, uint64_t offset) {
    char *p = static_cast<char *>(buf);
    while (n > 0) {
        ssize_t r = pread(static_cast<int>(f), p, n, static_cast<off_t>(offset));
        if (r < 0 && errno == EINTR) continue;
        if (r <= 0) return false;
        p += r, n -= static_cast<size_t>(r), offset += static_cast<uint64_t>(r);
    }
    return true;
}

bool writeAt(FileHandle f, const void *buf, size_t n, uint64_t offset) {
    const char *p = static_cast<const char *>(buf);
    while (n > 0) {
        ssize_t w = pwrite(static_cast<int>(f), p, n, static_cast<off_t>(offset));
        if (w < 0 && errno == EINTR) continue;
        if (w <= 0) return false;
        p += w, n -= static_cast<size_t>(w), offset += static_cast<uint64_t>(w);
    }
    return true;
}

bool releaseFileRange(FileHandle f, uint64_t offset, uint64_t size) {
#ifdef FALLOC_FL_PUNCH_HOLE
    const uint64_t page = pageSize(), from = (offset + page - 1) / page * page,
                   to = (offset + size) / page * page;
    return to <= from || fallocate(static_cast<int>(f), FALLOC_FL_PUNCH_HOLE | FALLOC_FL_KEEP_SIZE,
                                   static_cast<off_t>(from), static_cast<off_t>(to - from)) == 0;
#else
    (void)f, (void)offset, (void)size;
    return false;
#endif
}

bool releasesFileRanges() {
#ifdef FALLOC_FL_PUNCH_HOLE
    return true;
#else
    return false;
#endif
}

uint64_t fileSize(FileHandle f) {
    struct stat st {};
    if (fstat(static_cast<int>(f), &st) != 0 || !S_ISREG(st.st_mode)) return UINT64_MAX;
    return static_cast<uint64_t>(st.st_size);
}

void closeFile(FileHandle f) {
    if (f >= 0) close(static_cast<int>(f));
}

void *mapShared(FileHandle f, size_t size, std::string &error) {
    void *p = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED, static_cast<int>(f), 0);
    if (p == MAP_FAILED) {
        error = lastError();
        return nullptr;
    }
    return p;
}

void unmap(void *data, size_t size) {
    if (data) munmap(data, size);
}

bool tryLock(FileHandle f) {
    return flock(static_cast<int>(f), LOCK_EX | LOCK_NB) == 0;
}

bool exchangePaths(const std::string &a, const std::string &b) {
#ifdef RENAME_EXCHANGE
    return renameat2(AT_FDCWD, a.c_str(), AT_FDCWD, b.c_str(), RENAME_EXCHANGE) == 0;
#else
    (void)a, (void)b;
    return false;
#endif
}

size_t pageSize() {
    long p = sysconf(_SC_PAGESIZE);
    return p > 0 ? static_cast<size_t>(p) : 4096;
}

namespace {
// Transparent huge pages on x86-64 and most 64-bit Arm systems.
constexpr size_t kHugePage = size_t(2) << 20;
} // namespace

size_t allocationSize(size_t size) {
    const size_t unit = size >= kHugePage ? kHugePage : pageSize();
    return (size + unit - 1) / unit * unit;
}

// A large allocation is aligned to a huge page, so that a system that backs
// every allocation with huge pages can back it whole, but asks for none:
// on a virtual machine that hands free memory back to its host (as ours
// do), a fresh huge page costs ten to twenty times the plain pages it
// replaces, far more than the faults it saves.
void *allocatePages(size_t size) {
    size = allocationSize(size);
    if (size < kHugePage) {
        void *p = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        return p == MAP_FAILED ? nullptr : p;
    }
    void *raw =
        mmap(nullptr, size + kHugePage, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (raw == MAP_FAILED) return nullptr;
    char *start = static_cast<char *>(raw);
    char *aligned = reinterpret_cast<char *>((reinterpret_cast<uintptr_t>(start) + kHugePage - 1) /
                                             kHugePage * kHugePage);
    if (aligned > start) munmap(start, static_cast<size_t>(aligned - start));
    const size_t tail = static_cast<size_t>(start + size + kHugePage - (aligned + size));
    if (tail) munmap(aligned + size, tail);
    return aligned;
}

void freePages(void *data, size_t size) {
    if (data) munmap(data, allocationSize(size));
}

// A page fault costs a virtual machine like ours far more than the
// kernel's filling of the same pages in one call.
void prefaultPages(void *data, size_t size) {
#if defined(__linux__)
#ifndef MADV_POPULATE_WRITE
#define MADV_POPULATE_WRITE 23 // Linux 5.14; older kernels refuse it
#endif
    const uintptr_t page = pageSize(), at = reinterpret_cast<uintptr_t>(data);
    const uintptr_t first = (at + page - 1) / page * page, end = (at + size) / page * page;
    if (end > first) madvise(reinterpret_cast<void *>(first), end - first, MADV_POPULATE_WRITE);
#else
    (void)data, (void)size;
#endif
}

bool protectPages(void *data, size_t size, bool readOnly) {
    return mprotect(data, size, readOnly ? PROT_READ : PROT_READ | PROT_WRITE) == 0;
}

bool hidePages(void *data, size_t size) {
    return mprotect(data, size, PROT_NONE) == 0;
}

// The process's mappings as the kernel lists them: one read of
// /proc/self/maps, each writable range checked against every span.
size_t writableSpan(const Span *spans, size_t n) {
    FILE *maps = std::fopen("/proc/self/maps", "re");
    if (!maps) return n;
    size_t found = n;
    char line[512];
    while (found == n && std::fgets(line, sizeof line, maps)) {
        unsigned long long from = 0, to = 0;
        char perms[5] = {};
        if (std::sscanf(line, "%llx-%llx %4s", &from, &to, perms) != 3 || perms[1] != 'w') continue;
        for (size_t k = 0; k < n && found == n; ++k) {
            const auto begin = reinterpret_cast<uintptr_t>(spans[k].data);
            if (spans[k].size && begin < to && begin + spans[k].size > from) found = k;
        }
        if (!std::strchr(line, '\n')) // a long line: skip its rest
            for (int c; (c = std::fgetc(maps)) != EOF && c != '\n';) {
            }
    }
    std::fclose(maps);
    return found;
}

// Linux lists a process's threads in /proc/self/task, whose link count is
// two more than their number.
bool singleThreaded() {
    struct stat st {};
    return stat("/proc/self/task", &st) == 0 && st.st_nlink == 3;
}

bool replacePages(void *from, void *to, size_t size) {
#ifdef __linux__
    return mremap(from, size, size, MREMAP_MAYMOVE | MREMAP_FIXED, to) == to;
#else
    (void)from, (void)to, (void)size;
    return false;
#endif
}

// ---- whole files in memory ----------------------------------------------------

// Read whole into pages of this process's own, so that nothing done to the
// file afterwards (rewritten, truncated) reaches what was checked. Anything
// but a regular file is refused before it is opened (a FIFO would block the
// open), and opened without blocking in case one takes its place meanwhile.
bool loadFileImage(const std::string &path, FileImage &image, std::string &error) {
    image = FileImage{};
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) return error = std::strerror(errno), false;
    if (!S_ISREG(st.st_mode)) return error = "not a regular file", false;
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) return error = std::strerror(errno), false;
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        return error = "not a regular file", false;
    }
    const size_t size = static_cast<size_t>(st.st_size);
    if (size == 0) {
        ::close(fd);
        return true;
    }
    void *p = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (p == MAP_FAILED) {
        ::close(fd);
        return error = std::strerror(errno), false;
    }
    image.data = static_cast<unsigned char *>(p);
    image.size = size;
    const bool whole = readAt(fd, image.data, size, 0);
    ::close(fd);
    if (!whole) {
        freeFileImage(image);
        return error = "the file changed while it was read", false;
    }
    return true;
}

unsigned newFolderPermissions() {
    const mode_t mask = ::umask(0); // read it: the only way is to set it
    ::umask(mask);
    return 0777u & ~static_cast<unsigned>(mask);
}

bool ownedByMe(const std::string &path) {
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0 && st.st_uid == ::geteuid();
}

bool isPrivateFolder(const std::string &path) {
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == ::geteuid() &&
           (st.st_mode & 07777) == 0700;
}

PathKind pathKind(const std::string &path) {
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0)
        return errno == ENOENT ? PathKind::Missing : PathKind::Other;
    return S_ISREG(st.st_mode) ? PathKind::Regular : PathKind::Other;
}

bool identifyOpen(FileHandle f, FileIdentity &id) {
    id = FileIdentity{};
    struct stat st {};
    if (fstat(static_cast<int>(f), &st) != 0 || !S_ISREG(st.st_mode)) return false;
    id.device = static_cast<uint64_t>(st.st_dev);
    id.inode = static_cast<uint64_t>(st.st_ino);
    return true;
}

bool identifyFile(const std::string &path, bool hash, FileIdentity &id, std::string &error) {
    id = FileIdentity{};
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) return error = path + ": " + std::strerror(errno), false;
    struct stat st {};
    bool ok = fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
    if (!ok) error = path + ": not a regular file";
    id.device = static_cast<uint64_t>(st.st_dev);
    id.inode = static_cast<uint64_t>(st.st_ino);
    id.size = static_cast<uint64_t>(st.st_size);
    id.modified = int64_t(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
    if (ok && hash) {
        id.hash = fnv1a(nullptr, 0);
        static char buf[1 << 16];
        for (ssize_t n; (n = ::read(fd, buf, sizeof buf)) != 0;) {
            if (n < 0 && errno == EINTR) continue;
            if (n < 0) {
                error = path + ": " + std::strerror(errno), ok = false;
                break;
            }
            id.hash = fnv1a(buf, static_cast<size_t>(n), id.hash);
        }
    }
    ::close(fd);
    return ok;
}

bool readPrefix(const std::string &path, size_t n, std::string &out) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOFOLLOW);
    if (fd < 0) return false;
    struct stat st {};
    bool ok = fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
    if (ok) {
        out.assign(std::min(n, static_cast<size_t>(st.st_size)), '\0');
        ok = readAt(fd, out.data(), out.size(), 0);
    }
    ::close(fd);
    return ok;
}

void freeFileImage(FileImage &image) {
    if (image.data) munmap(image.data, image.size);
    image = FileImage{};
}

} // namespace vhost::platform
