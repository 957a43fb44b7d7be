// files_win32.cpp - files, folders and pages on Windows.
// rand_s, the C runtime's interface to the system's random numbers, is
// declared only when this is defined before the first standard header.
#define _CRT_RAND_S
#include <stdlib.h>

#include "platform/files.h"
#include "platform/pages.h"
#include "platform/win32_system.h"

#include <windows.h>
#include <fcntl.h>
#include <io.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <new>
#include <vector>

namespace vhost::platform {

// ---- files ---------------------------------------------------------------------

// GetTempPath reads TMP, TEMP, USERPROFILE in turn.
bool useMemoryFolder(const char *, const MemoryFolder &, uint64_t) {
    return false;
}

std::string tempDirectory(std::string &error, uint64_t) {
    char buf[MAX_PATH + 1];
    DWORD n = GetTempPathA(sizeof buf, buf);
    if (n == 0 || n > sizeof buf) {
        error = "no folder for temporary files: " + systemMessage(GetLastError());
        return "";
    }
    std::string dir(buf, n);
    while (dir.size() > 3 && (dir.back() == '\\' || dir.back() == '/'))
        dir.pop_back();
    DWORD attr = GetFileAttributesA(dir.c_str());
    if (attr == INVALID_FILE_ATTRIBUTES || !(attr & FILE_ATTRIBUTE_DIRECTORY)) {
        error = "the folder for temporary files " + dir + " is not a folder";
        return "";
    }
    return dir;
}

// A random name from the system's generator; CreateDirectory fails when
// the name exists. The user's temporary folder is private to the user.
std::string makePrivateFolder(const std::string &parent, const std::string &prefix,
                              std::string &error) {
    for (int attempt = 0; attempt < 16; ++attempt) {
        unsigned a = 0, b = 0;
        rand_s(&a);
        rand_s(&b);
        char name[32];
        std::snprintf(name, sizeof name, "%08x%04x", a, b & 0xffffu);
        std::string path = parent + "\\" + prefix + name;
        if (CreateDirectoryA(path.c_str(), nullptr)) return path;
        if (GetLastError() != ERROR_ALREADY_EXISTS) {
            error = "cannot make a folder in " + parent + ": " + systemMessage(GetLastError());
            return "";
        }
    }
    error = "cannot make a folder in " + parent + ": every name tried exists";
    return "";
}

namespace {
HANDLE handleOf(FileHandle f) {
    return reinterpret_cast<HANDLE>(f);
}
} // namespace

FileHandle createExclusive(const std::string &path, uint64_t size, std::string &error) {
    HANDLE h =
        CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                    nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        error = path + ": " + systemMessage(GetLastError());
        return -1;
    }
    LARGE_INTEGER at;
    at.QuadPart = static_cast<LONGLONG>(size);
    if (!SetFilePointerEx(h, at, nullptr, FILE_BEGIN) || !SetEndOfFile(h)) {
        error = path + ": " + systemMessage(GetLastError());
        CloseHandle(h);
        return -1;
    }
    return reinterpret_cast<FileHandle>(h);
}

bool shareWithLibrary(FileHandle, const char *) {
    return false;
}

FileHandle openExisting(const std::string &path, uint64_t expectedSize, std::string &error) {
    HANDLE h = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE,
                           FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                           FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        error = path + ": " + systemMessage(GetLastError());
        return -1;
    }
    LARGE_INTEGER size{};
    if (GetFileType(h) != FILE_TYPE_DISK || !GetFileSizeEx(h, &size) ||
        (expectedSize != kAnySize && static_cast<uint64_t>(size.QuadPart) != expectedSize)) {
        error = path + ": not the result file this worker was given";
        CloseHandle(h);
        return -1;
    }
    return reinterpret_cast<FileHandle>(h);
}

bool readAt(FileHandle f, void *buf, size_t n, uint64_t offset) {
    char *p = static_cast<char *>(buf);
    while (n > 0) {
        OVERLAPPED ov{};
        ov.Offset = static_cast<DWORD>(offset);
        ov.OffsetHigh = static_cast<DWORD>(offset >> 32);
        DWORD want = n > (1u << 30) ? (1u << 30) : static_cast<DWORD>(n), got = 0;
        if (!ReadFile(handleOf(f), p, want, &got, &ov) || got == 0) return false;
        p += got, n -= got, offset += got;
    }
    return true;
}

bool writeAt(FileHandle f, const void *buf, size_t n, uint64_t offset) {
    const char *p = static_cast<const char *>(buf);
    while (n > 0) {
        OVERLAPPED ov{};
        ov.Offset = static_cast<DWORD>(offset);
        ov.OffsetHigh = static_cast<DWORD>(offset >> 32);
        DWORD want = n > (1u << 30) ? (1u << 30) : static_cast<DWORD>(n), put = 0;
        if (!WriteFile(handleOf(f), p, want, &put, &ov) || put == 0) return false;
        p += put, n -= put, offset += put;
    }
    return true;
}

std::string lastFileError() {
    const DWORD code = GetLastError();
    return systemMessage(code) + (code == ERROR_DISK_FULL || code == ERROR_HANDLE_DISK_FULL
                                      ? ", the file system is full"
                                      : "");
}

bool releaseFileRange(FileHandle, uint64_t, uint64_t) {
    return false; // the file keeps them
}

bool releasesFileRanges() {
    return false;
}

uint64_t fileSize(FileHandle f) {
    LARGE_INTEGER size{};
    if (!GetFileSizeEx(handleOf(f), &size)) return UINT64_MAX;
    return static_cast<uint64_t>(size.QuadPart);
}

void closeFile(FileHandle f) {
    if (f != -1) CloseHandle(handleOf(f));
}

void *mapShared(FileHandle f, size_t size, std::string &error) {
    HANDLE m = CreateFileMappingA(handleOf(f), nullptr, PAGE_READWRITE, 0, 0, nullptr);
    if (!m) {
        error = systemMessage(GetLastError());
        return nullptr;
    }
    void *p = MapViewOfFile(m, FILE_MAP_ALL_ACCESS, 0, 0, size);
    if (!p) error = systemMessage(GetLastError());
    CloseHandle(m); // the view keeps the mapping
    return p;
}

void unmap(void *data, size_t) {
    if (data) UnmapViewOfFile(data);
}

bool tryLock(FileHandle f) {
    OVERLAPPED ov{};
    return LockFileEx(handleOf(f), LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0,
                      &ov) != 0;
}

bool exchangePaths(const std::string &, const std::string &) {
    return false;
}

// Windows gives large pages only to a process with a privilege a user
// rarely has; allocatePages never asks for them.
size_t pageSize() {
    SYSTEM_INFO si{};
    GetSystemInfo(&si);
    return si.dwPageSize ? si.dwPageSize : 4096;
}

// Plain pages: large pages need a privilege users seldom have.
size_t allocationSize(size_t size) {
    const size_t page = pageSize();
    return (size + page - 1) / page * page;
}

// Windows gives a committed page on first touch; nothing is gained by
// asking earlier.
void prefaultPages(void *, size_t) {}

void *allocatePages(size_t size) {
    return VirtualAlloc(nullptr, allocationSize(size), MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE);
}

void freePages(void *data, size_t) {
    if (data) VirtualFree(data, 0, MEM_RELEASE);
}

bool protectPages(void *data, size_t size, bool readOnly) {
    DWORD old = 0;
    return VirtualProtect(data, size, readOnly ? PAGE_READONLY : PAGE_READWRITE, &old) != 0;
}

bool hidePages(void *data, size_t size) {
    DWORD old = 0;
    return VirtualProtect(data, size, PAGE_NOACCESS, &old) != 0;
}

// Each span's regions of like protection, as VirtualQuery gives them.
size_t writableSpan(const Span *spans, size_t n) {
    const DWORD writable =
        PAGE_READWRITE | PAGE_WRITECOPY | PAGE_EXECUTE_READWRITE | PAGE_EXECUTE_WRITECOPY;
    for (size_t k = 0; k < n; ++k) {
        const char *p = static_cast<const char *>(spans[k].data), *end = p + spans[k].size;
        while (p && p < end) {
            MEMORY_BASIC_INFORMATION info{};
            if (!VirtualQuery(p, &info, sizeof info) || info.RegionSize == 0) break;
            if (info.State == MEM_COMMIT && (info.Protect & writable)) return k;
            p = static_cast<const char *>(info.BaseAddress) + info.RegionSize;
        }
    }
    return n;
}

bool replacePages(void *, void *, size_t) {
    return false;
}

bool singleThreaded() {
    return false;
}

// _isatty on the C runtime's stderr.
bool stderrIsTerminal() {
    return _isatty(_fileno(stderr)) != 0;
}

// ---- whole files in memory ----------------------------------------------------

namespace {

constexpr size_t kAlign = 64;

} // namespace

// True when `path` names a file on a disk (not a folder, pipe or device).
bool isRegularFile(const std::string &path) {
    const DWORD attr = GetFileAttributesA(path.c_str());
    if (attr == INVALID_FILE_ATTRIBUTES || (attr & FILE_ATTRIBUTE_DIRECTORY)) return false;
    HANDLE h = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                           OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) return false;
    const bool disk = GetFileType(h) == FILE_TYPE_DISK;
    CloseHandle(h);
    return disk;
}

// Read through the C runtime into an aligned copy of its own, once it is
// known to be a file on a disk.
bool loadFileImage(const std::string &path, FileImage &image, std::string &error) {
    image = FileImage{};
    // A path that is not there at all is for the C runtime to report.
    if (GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES && !isRegularFile(path))
        return error = "not a regular file", false;
    FILE *f = std::fopen(path.c_str(), "rb");
    if (!f) return error = std::strerror(errno), false;
    std::vector<unsigned char> bytes;
    unsigned char buf[1 << 16];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0)
        bytes.insert(bytes.end(), buf, buf + n);
    const bool failed = std::ferror(f) != 0;
    std::fclose(f);
    if (failed) return error = "read error", false;
    if (bytes.empty()) return true;
    void *copy = ::operator new[](bytes.size(), std::align_val_t(kAlign), std::nothrow);
    if (!copy) return error = "out of memory for " + std::to_string(bytes.size()) + " bytes", false;
    std::memcpy(copy, bytes.data(), bytes.size());
    image.data = static_cast<unsigned char *>(copy);
    image.size = bytes.size();
    return true;
}

unsigned newFolderPermissions() {
    return 0777u;
}

bool ownedByMe(const std::string &) {
    return true;
}

bool isPrivateFolder(const std::string &path) {
    const DWORD attr = GetFileAttributesA(path.c_str());
    return attr != INVALID_FILE_ATTRIBUTES && (attr & FILE_ATTRIBUTE_DIRECTORY) &&
           !(attr & FILE_ATTRIBUTE_REPARSE_POINT);
}

PathKind pathKind(const std::string &path) {
    const DWORD attr = GetFileAttributesA(path.c_str());
    if (attr == INVALID_FILE_ATTRIBUTES)
        return GetLastError() == ERROR_FILE_NOT_FOUND || GetLastError() == ERROR_PATH_NOT_FOUND
                   ? PathKind::Missing
                   : PathKind::Other;
    if (attr & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) return PathKind::Other;
    return isRegularFile(path) ? PathKind::Regular : PathKind::Other;
}

bool identifyOpen(FileHandle f, FileIdentity &id) {
    id = FileIdentity{};
    BY_HANDLE_FILE_INFORMATION info{};
    const HANDLE h = handleOf(f);
    if (!GetFileInformationByHandle(h, &info) || GetFileType(h) != FILE_TYPE_DISK ||
        (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
        return false;
    id.device = info.dwVolumeSerialNumber;
    id.inode = (uint64_t(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
    return true;
}

bool identifyFile(const std::string &path, bool hash, FileIdentity &id, std::string &error) {
    id = FileIdentity{};
    HANDLE h = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                           OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return error = path + ": " + systemMessage(GetLastError()), false;
    BY_HANDLE_FILE_INFORMATION info{};
    bool ok = GetFileInformationByHandle(h, &info) && GetFileType(h) == FILE_TYPE_DISK &&
              !(info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY);
    if (!ok) error = path + ": not a regular file";
    id.device = info.dwVolumeSerialNumber;
    id.inode = (uint64_t(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
    id.size = (uint64_t(info.nFileSizeHigh) << 32) | info.nFileSizeLow;
    id.modified = static_cast<int64_t>((uint64_t(info.ftLastWriteTime.dwHighDateTime) << 32) |
                                       info.ftLastWriteTime.dwLowDateTime);
    if (ok && hash) {
        id.hash = fnv1a(nullptr, 0);
        static char buf[1 << 16];
        DWORD n = 0;
        while ((ok = ReadFile(h, buf, sizeof buf, &n, nullptr) != 0) && n > 0)
            id.hash = fnv1a(buf, n, id.hash);
        if (!ok) error = path + ": " + systemMessage(GetLastError());
    }
    CloseHandle(h);
    return ok;
}

bool readPrefix(const std::string &path, size_t n, std::string &out) {
    if (pathKind(path) != PathKind::Regular) return false;
    FILE *f = std::fopen(path.c_str(), "rb");
    if (!f) return false;
    out.assign(n, '\0');
    out.resize(std::fread(out.data(), 1, n, f));
    const bool ok = std::ferror(f) == 0;
    std::fclose(f);
    return ok;
}

void freeFileImage(FileImage &image) {
    if (image.data) ::operator delete[](image.data, std::align_val_t(kAlign));
    image = FileImage{};
}

} // namespace vhost::platform
