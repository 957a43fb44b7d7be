// host_run.h - run the built vulmora-host as a user runs it, for the
// emulator's tests: stdout and stderr captured apart, with the exit status.
#pragma once

#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

namespace vtest {

struct HostResult {
    std::string out, err;
    int status = -1; // exit status; -1 when ended by a signal
};

// The whole content of a file ("" when missing).
inline std::string slurp(const std::filesystem::path &p) {
    std::ifstream in(p, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

// Run `exe` with `args` (shell words); `env` (shell words, may be empty)
// is put before the command, e.g. "PATH=/nonexistent".
inline HostResult runHost(const std::string &exe, const std::string &args,
                          const std::string &env = "") {
    HostResult r;
    const auto errFile = std::filesystem::temp_directory_path() /
                         ("vulmora-host-stderr-" + std::to_string(getpid()));
    std::string cmd = (env.empty() ? "" : "env " + env + " ") + "'" + exe + "' " + args + " 2>'" +
                      errFile.string() + "'";
    FILE *p = popen(cmd.c_str(), "r");
    if (!p) return r;
    char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, p)) > 0)
        r.out.append(buf, n);
    int st = pclose(p);
    r.status = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
    r.err = slurp(errFile);
    std::filesystem::remove(errFile);
    return r;
}

// Number of non-overlapping occurrences of `what` in `text`.
inline size_t occurrences(const std::string &text, const std::string &what) {
    size_t k = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1))
        ++k;
    return k;
}

// A private folder under the temporary folder (mode 0700, unpredictable
// name), removed with everything in it at the end of its scope.
struct PrivateFolder {
    std::filesystem::path path;
    explicit PrivateFolder(const std::string &prefix = "vulmora-test") {
        std::string t = (std::filesystem::temp_directory_path() / (prefix + "-XXXXXX")).string();
        path = mkdtemp(t.data());
    }
    ~PrivateFolder() {
        std::error_code ec;
        std::filesystem::remove_all(path, ec);
    }
    PrivateFolder(const PrivateFolder &) = delete;
    PrivateFolder &operator=(const PrivateFolder &) = delete;
};

} // namespace vtest
