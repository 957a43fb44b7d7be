// posix_system.cpp - the platform layer's facts about this process and
// system on Linux and other POSIX systems: libraries, memory, time, disk,
// the limits a worker needs, the environment.
#include "platform/descriptors.h"
#include "platform/system.h"

#include <signal.h>

#include <dlfcn.h>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstdlib>

namespace vhost::platform {

// ---- libraries ---------------------------------------------------------------

// dlopen with every symbol resolved now, so a library with a missing
// import fails here and not in the middle of a run.
void *loadLibrary(const std::string &path, std::string &error) {
    void *h = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!h) {
        const char *e = dlerror();
        error = e ? e : "unknown error";
    }
    return h;
}

// dlsym; exported variables and functions alike.
void *findSymbol(void *library, const char *name) {
    return dlsym(library, name);
}

// ---- process facts -----------------------------------------------------------

// The link /proc/self/exe (Linux); "" elsewhere.
std::string executablePath() {
    char buf[PATH_MAX];
    ssize_t n = readlink("/proc/self/exe", buf, sizeof buf - 1);
    if (n <= 0) return "";
    return std::string(buf, static_cast<size_t>(n));
}

// The first executable regular file `name` in a folder of PATH (an empty
// entry is the current folder).
std::string programOnPath(const std::string &name) {
    const char *path = std::getenv("PATH");
    std::string dirs = path ? path : "";
    for (size_t start = 0; start <= dirs.size();) {
        size_t end = dirs.find(':', start);
        if (end == std::string::npos) end = dirs.size();
        const std::string dir = end > start ? dirs.substr(start, end - start) : ".";
        const std::string file = dir + "/" + name;
        struct stat st {};
        if (::stat(file.c_str(), &st) == 0 && S_ISREG(st.st_mode) &&
            access(file.c_str(), X_OK) == 0)
            return file;
        start = end + 1;
    }
    return "";
}

// lib<name>.so
std::string libraryFileName(const std::string &name) {
    return "lib" + name + ".so";
}

// POSIX streams never translate line ends; line buffering is all.
void rawStdout() {
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
}

// isatty on descriptor 2.
bool stderrIsTerminal() {
    return isatty(2) != 0;
}

// MemAvailable of /proc/meminfo, else the physical memory.
uint64_t availableMemory() {
    if (FILE *f = std::fopen("/proc/meminfo", "r")) {
        char line[256];
        unsigned long long kb = 0;
        while (std::fgets(line, sizeof line, f))
            if (std::sscanf(line, "MemAvailable: %llu kB", &kb) == 1) break;
        std::fclose(f);
        if (kb) return static_cast<uint64_t>(kb) * 1024u;
    }
    long pages = sysconf(_SC_PHYS_PAGES), page = sysconf(_SC_PAGESIZE);
    return pages > 0 && page > 0 ? static_cast<uint64_t>(pages) * static_cast<uint64_t>(page) : 0;
}

uint64_t peakMemory() {
#ifdef __linux__
    if (FILE *f = std::fopen("/proc/self/status", "re")) {
        char line[128];
        unsigned long long kib = 0;
        bool found = false;
        while (!found && std::fgets(line, sizeof line, f))
            found = std::sscanf(line, "VmHWM: %llu kB", &kib) == 1;
        std::fclose(f);
        if (found) return static_cast<uint64_t>(kib) * 1024u;
    }
#endif
    struct rusage ru {};
    return getrusage(RUSAGE_SELF, &ru) == 0 ? static_cast<uint64_t>(ru.ru_maxrss) * 1024u : 0;
}

double threadCpuSeconds() {
    struct timespec t {};
    if (clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t) != 0) return 0;
    return double(t.tv_sec) + double(t.tv_nsec) * 1e-9;
}

namespace {
double gProcessorStart = 0; // this process's own time when the run began

// User and system time of the process itself (not its children).
double selfSeconds() {
    struct rusage ru {};
    if (getrusage(RUSAGE_SELF, &ru) != 0) return 0;
    return double(ru.ru_utime.tv_sec) + double(ru.ru_utime.tv_usec) * 1e-6 +
           double(ru.ru_stime.tv_sec) + double(ru.ru_stime.tv_usec) * 1e-6;
}
} // namespace

void markProcessorStart() {
    gProcessorStart = selfSeconds();
}

double processorSeconds() {
    return std::max(0.0, selfSeconds() - gProcessorStart);
}

uint64_t freeDiskSpace(const std::string &path) {
    struct statvfs v {};
    if (statvfs(path.c_str(), &v) != 0) return UINT64_MAX;
    return static_cast<uint64_t>(v.f_bavail) * static_cast<uint64_t>(v.f_frsize);
}

// Single quotes, each quote inside closed, escaped and reopened.
std::string shellQuoted(const std::string &arg) {
    std::string q = "'";
    for (char c : arg)
        q += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return q + "'";
}

namespace {
// The limits a worker needs, and what they were when it started.
const struct {
    int resource;
    const char *name;
} kLimits[] = {
    {RLIMIT_FSIZE, "the process's file size limit (RLIMIT_FSIZE)"},
    {RLIMIT_AS, "the process's address space limit (RLIMIT_AS)"},
    {RLIMIT_DATA, "the process's data size limit (RLIMIT_DATA)"},
    {RLIMIT_NOFILE, "the process's limit on open files (RLIMIT_NOFILE)"},
    {RLIMIT_STACK, "the process's stack size limit (RLIMIT_STACK)"},
};
rlim_t gLimits[std::size(kLimits)];
bool gLimitsKept = false;
} // namespace

void keepLimits() {
    for (size_t k = 0; k < std::size(kLimits); ++k) {
        struct rlimit r {};
        gLimits[k] = getrlimit(kLimits[k].resource, &r) == 0 ? r.rlim_cur : RLIM_INFINITY;
    }
    gLimitsKept = true;
    signal(SIGXFSZ, SIG_IGN);
}

std::string loweredLimit() {
    for (size_t k = 0; gLimitsKept && k < std::size(kLimits); ++k) {
        struct rlimit r {};
        if (getrlimit(kLimits[k].resource, &r) == 0 && r.rlim_cur < gLimits[k])
            return kLimits[k].name;
    }
    return "";
}

void setEnvironment(const char *name, const std::string &value) {
    setenv(name, value.c_str(), 1);
}

void unsetEnvironment(const char *name) {
    unsetenv(name);
}

// ---- descriptors ---------------------------------------------------------------

// dup.
int fd::duplicate(int fd) {
    return dup(fd);
}

// dup2.
bool fd::duplicateOnto(int from, int to) {
    return dup2(from, to) >= 0;
}

// close.
void fd::close(int fd) {
    ::close(fd);
}

// /dev/null, closed in children started by exec.
int fd::openNullForWriting() {
    return open("/dev/null", O_WRONLY | O_CLOEXEC);
}

} // namespace vhost::platform
