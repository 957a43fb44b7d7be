// platform.h - the few operating-system services the emulator needs.
//
// Everything that differs between POSIX and Windows lives behind these
// functions: loading a user-function library and finding its symbols,
// private scratch folders and the shared result files of the workers,
// read-only pages, interruption, and running a program (the emulator
// itself as an isolated worker, or the plotting tool) with its standard
// output and error captured, its time watched and its whole process group
// (job object) ended with it. posix.cpp and files_posix.cpp, win32.cpp and
// files_win32.cpp implement them; common.cpp holds what is the same.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace vhost::platform {

// The printf format check of a function whose argument `fmt` is the format
// and `first` the first value (members count `this` as 1); MinGW's C99
// printf (__USE_MINGW_ANSI_STDIO) is gnu_printf there.
#if defined(__MINGW32__)
#define VHOST_PRINTF_FORMAT(fmt, first) __attribute__((format(gnu_printf, fmt, first)))
#elif defined(__GNUC__)
#define VHOST_PRINTF_FORMAT(fmt, first) __attribute__((format(printf, fmt, first)))
#else
#define VHOST_PRINTF_FORMAT(fmt, first)
#endif

// ---- libraries -----------------------------------------------------------------

// Load the shared library at `path`; null on failure with the reason in
// `error`. The library stays loaded until the process ends.
void *loadLibrary(const std::string &path, std::string &error);

// Address of the exported symbol `name` in `library`, or null.
void *findSymbol(void *library, const char *name);

// ---- process facts ---------------------------------------------------------------

// Absolute path of the running executable ("" when unknown).
std::string executablePath();

// File name of a user-function library built from target `name`
// (libname.so or libname.dll).
std::string libraryFileName(const std::string &name);

// Make standard output pass bytes through unchanged (Windows opens it in
// text mode, which would turn a library's "\n" into "\r\n") and line
// buffered, so the last lines before a crash reach the parent. A worker
// calls this first.
void rawStdout();

// Point standard output at the null device until restoreStdout(token);
// what a library prints while it loads is then not mixed with what its
// entry points print. Returns a token, or -1 when it cannot.
int silenceStdout();
void restoreStdout(int token);

// True when standard error is an interactive terminal.
bool stderrIsTerminal();

// Bytes of memory available to a new process (0 when unknown), and free
// bytes on the file system holding `path` (UINT64_MAX when unknown).
uint64_t availableMemory();
uint64_t freeDiskSpace(const std::string &path);

// The name of a signal (POSIX) or exception code (Windows): "SIGSEGV",
// "EXCEPTION_ACCESS_VIOLATION", else the number.
std::string signalName(int code);

// `arg` as one word of a command line the user may paste into this
// system's shell: nothing in it runs or expands. POSIX: in single quotes,
// each ' as '\'' (a newline or other control character stays literal
// inside the quotes). Windows: in double quotes by the C runtime's rules
// for backslashes and quotes.
std::string shellQuoted(const std::string &arg);

// ---- crashes and interruption --------------------------------------------------

// Call `hook(address)` when the process is about to die of a crash (a fatal
// signal on POSIX, an unhandled exception on Windows) with the faulting
// address (null when none), on a stack of its own so that a stack overflow
// is caught too; then let the process die as it would have. The hook must
// not allocate.
void onCrash(void (*hook)(const void *address));

// Before a memory fault counts as a crash, ask `resolve` whether it can
// make the faulting address readable (it then returns true and the access
// is made again). The resolver must not allocate. False where faults
// cannot be resumed this way (Windows): the caller then never needs it.
bool onFault(bool (*resolve)(const void *address));
// True while memory faults still reach that resolver first: code loaded
// since (a user library) may have put a handler of its own before it.
bool faultsReachResolver();

// Catch SIGINT and SIGTERM (Ctrl-C, Ctrl-Break and close on Windows): the
// first one only sets a flag that interrupted() returns (the signal's
// number; 0 while none came). Runs of children end early when it is set.
void catchInterrupts();
int interrupted();

// Whenever this process is copied by fork() (not by posix_spawn or system,
// which start a program): call `before` in it just before, and `child` in
// the copy. Windows has no such copies: nothing is registered there.
void onFork(void (*before)(), void (*child)());

// In the bench: say that this process's workers are to end with it (it
// records its process id in the environment they inherit).
void markWorkersParent();
// In a worker: end at once, killed, when the process that started it ends
// however it ends (SIGKILL included); false when that process has already
// gone. Where the system ends children with their parent by other means
// (Windows: the job object), true.
bool endWithParent();

// ---- files ---------------------------------------------------------------------------

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
// following a link, and check its size.
FileHandle openExisting(const std::string &path, uint64_t expectedSize, std::string &error);
// Give the library this process loads the open file `f` through the
// environment variable `name` (a descriptor number); false where the
// system has no such way (Windows: the library's counters stay off).
bool shareWithLibrary(FileHandle f, const char *name);
// Read `n` bytes at `offset`; false when fewer could be read.
bool readAt(FileHandle f, void *buf, size_t n, uint64_t offset);
// All n bytes to the file at `offset`; false on any failure.
bool writeAt(FileHandle f, const void *buf, size_t n, uint64_t offset);
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

// What is at `path`, a link there not followed: nothing, a regular file,
// or anything else (a folder, a device, a FIFO, a link).
// The permission bits a folder made now by this user would get (POSIX:
// 0777 less the umask; Windows: 0777, where they mean little).
unsigned newFolderPermissions();

// True when `path` belongs to the user this process runs as (on Windows,
// always: the folder for temporary files is the user's own).
bool ownedByMe(const std::string &path);

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
// FNV-1a over `n` bytes, continuing from `h`.
inline uint64_t fnv1a(const void *data, size_t n, uint64_t h = 0xcbf29ce484222325ull) {
    const auto *p = static_cast<const unsigned char *>(data);
    for (size_t i = 0; i < n; ++i)
        h = (h ^ p[i]) * 0x100000001b3ull;
    return h;
}

enum class PathKind { Missing, Regular, Other };
PathKind pathKind(const std::string &path);
// The first `n` bytes of the regular file at `path` (fewer when it is
// shorter), without waiting on anything else; false when they cannot be read.
bool readPrefix(const std::string &path, size_t n, std::string &out);

// Exchange the two existing paths in one step; false when they could not
// be (or the system cannot: the caller then renames one after the other).
bool exchangePaths(const std::string &a, const std::string &b);

// Pages that can be made read-only. `size` is rounded up to
// allocationSize(size), and that is what protectPages and hidePages must be
// given for the whole allocation: a large one is aligned to a huge page and
// takes whole huge pages (no huge pages are asked for, but a system that
// gives them to every allocation can back it whole, and changing part of
// a huge page would split it).
void *allocatePages(size_t size);
void freePages(void *data, size_t size);
// The bytes an allocation of `size` takes: whole pages, and whole huge
// pages for one of at least a huge page where they are used.
size_t allocationSize(size_t size);
bool protectPages(void *data, size_t size, bool readOnly);
// No access at all, until protectPages opens them again.
bool hidePages(void *data, size_t size);
// A span of memory, for writableSpan.
struct Span {
    const void *data = nullptr;
    size_t size = 0;
};
// The index of the first of `spans` that has a writable page now (someone
// changed its protection), or `n` when none has or it cannot be told.
size_t writableSpan(const Span *spans, size_t n);
// Put the pages at `from` (from allocatePages, `size` bytes) in place of
// those at `to`, in one step: no thread ever sees the old pages half
// replaced. `from` is then gone. False where that cannot be done (all
// but Linux), with nothing changed.
bool replacePages(void *from, void *to, size_t size);
// True when this process surely runs one thread only (safe in a signal
// handler; false when it cannot tell).
bool singleThreaded();
size_t pageSize();

// ---- child processes -----------------------------------------------------------------

// What a child wrote to one stream: the first and the last `keep` bytes
// are kept, and the total is counted, so a child that prints gigabytes
// costs no more memory than one that prints a page.
class Captured {
  public:
    static constexpr size_t keep = 64 * 1024;
    void add(const char *data, size_t n);
    // Everything kept; when bytes were dropped, a marker line in between.
    std::string text() const;
    bool complete() const { return total == head.size() + tail.size(); }
    bool empty() const { return total == 0; }
    uint64_t total = 0;
    std::string head, tail;
};

// How a child program ended.
struct RunResult {
    bool started = false;    // false: the program could not be started
    std::string error;       // why it could not be started
    Captured out, err;       // its standard output and standard error
    bool exited = false;     // ended by exit (not by a signal or crash)
    int status = -1;         // exit status when exited, else signal/exception code
    bool killed = false;     // ended by us (watch() asked, or an interruption)
    uint64_t peakBytes = 0;  // its peak resident memory (0 when unknown)
    int signalledParent = 0; // a signal it (or its group) sent to this process, ignored
    int stoppedParent = 0;   // this process was stopped while it ran: 1 alone, 2 with others
    double cpuSeconds = 0;   // its processor time, with that of the children it waited for
};

// Peak resident memory of this process so far, in bytes (0 when unknown).
uint64_t peakMemory();

// Processor time of the calling thread, in seconds: unlike the wall clock it
// does not grow while the thread waits for a busy machine. 0 when unknown,
// and coarse on Windows (the scheduler's tick).
double threadCpuSeconds();

// Processor time of this process alone, in seconds, since
// markProcessorStart(). A shell that runs this program in its own process
// (its last command) leaves in that process's counters its own time and
// that of every child it waited for before: the mark leaves them out.
// Workers' time is each worker's RunResult::cpuSeconds.
void markProcessorStart();
double processorSeconds();

// Run every command of `jobs`, at most `parallel` at a time, each in a
// process group (job object) of its own with standard output and error
// captured. When a child ends, whatever it left running in its group is
// killed, so a background process holding its output does not hold the
// run. `watch(index)` is called about every 100 ms for each running child;
// when it returns true the child's group is killed. done(index, result) is
// called as each one ends (in the calling thread). Returns false, with
// every child killed and reaped, when interrupted() became set.
bool runMany(const std::vector<std::vector<std::string>> &jobs, int parallel,
             const std::function<void(size_t, RunResult &)> &done,
             const std::function<bool(size_t)> &watch = nullptr,
             const std::function<void()> &idle = nullptr);

// Run `call` in a copy of this process (fork) with its standard output
// captured into `out`, for at most `seconds` (0: no limit; the copy is then
// killed); how it ended in `exited`/`status`. False when the system makes
// no such copies (Windows) or one cannot be made.
bool runForked(const std::function<void()> &call, double seconds, std::string &out, bool &exited,
               int &status);

// Note this process's resource limits, and have a write beyond the file
// size limit fail rather than end the process; loweredLimit() then names a
// limit lowered since ("" when none, or where there are none).
void keepLimits();
std::string loweredLimit();

// Start a watchdog that continues this process and its children when
// something (user code's kill(getppid(), SIGSTOP)) stopped them, so time
// limits hold; timesResumed() counts the times it continued this process.
// The user's own job control (Ctrl-Z) stops the watchdog too.
void resumeWhenStopped();
int timesResumed();

// Remove `name` from this process's environment.
void unsetEnvironment(const char *name);
// Set an environment variable of this process (its children inherit it).
void setEnvironment(const char *name, const std::string &value);

// One job through runMany.
RunResult runCaptured(const std::vector<std::string> &args);

} // namespace vhost::platform
