// outdir.cpp - claiming, filling and committing the output folder.
#include "output/outdir.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <map>
#include <sstream>
#include <vector>

#include "model/entries.h"
#include "output/report.h"

namespace vhost {

namespace fs = std::filesystem;

namespace {

// The empty file that marks a folder as a run's results; its lock is held
// by the run that claimed the folder.
constexpr const char *kMarker = ".vulmora-host";

// The first line of a marker that lists the files of its run; each line
// after it is "<size> <time written, ns> <FNV-1a, hex> <name>".
constexpr const char *kListed = "vulmora-host output 1";
constexpr uintmax_t kMaxMarker = 1 << 20;

// True when `dir` holds nothing but, perhaps, the marker.
bool emptyButMarker(const fs::path &dir) {
    std::error_code ec;
    for (const auto &entry : fs::directory_iterator(dir, ec))
        if (entry.path().filename() != kMarker) return false;
    return !ec;
}

// One file a run wrote, as its marker lists it.
struct Listed {
    uint64_t size = 0, hash = 0;
    int64_t modified = 0;
};

// What the marker of `dir` says of its run's files.
enum class Marker {
    None,    // no marker: no run wrote the folder
    Earlier, // an earlier version's, which lists nothing
    Listed,  // their list, into `files` by name
};
Marker readList(const fs::path &dir, std::map<std::string, Listed> &files) {
    std::string text;
    if (platform::pathKind((dir / kMarker).string()) != platform::PathKind::Regular ||
        !platform::readPrefix((dir / kMarker).string(), kMaxMarker, text))
        return Marker::None;
    if (text.empty()) return Marker::Earlier;
    std::istringstream in(text);
    std::string line;
    if (!std::getline(in, line) || line != kListed) return Marker::None;
    while (std::getline(in, line)) {
        Listed f;
        unsigned long long size = 0, hash = 0;
        long long modified = 0;
        int used = 0;
        if (std::sscanf(line.c_str(), "%llu %lld %llx %n", &size, &modified, &hash, &used) != 3 ||
            used <= 0 || size_t(used) >= line.size())
            return Marker::None;
        f.size = size, f.modified = modified, f.hash = hash;
        files[line.substr(size_t(used))] = f;
    }
    return Marker::Listed;
}

// Whether `name`, a regular file of a folder whose marker lists nothing,
// is one an earlier version's run wrote: what a run writes and nothing
// else (a user's notes are never among them).
bool earlierRunsFile(const std::string &name) {
    if (name == "run.pvd" || name == "run.txt" || name == "summary.txt" || name == "curve.csv" ||
        name == "plots.gp" || name == "library-load.stdout.txt")
        return true;
    unsigned step = 0;
    char rest = 0;
    if (std::sscanf(name.c_str(), "step_%4u.vt%c", &step, &rest) == 2 &&
        name.size() == std::strlen("step_0000.vtu") && name.substr(9) == ".vtu")
        return true;
    for (const char *ext : {".csv", ".svg", ".values", ".stdout.txt", ".stderr.txt"})
        if (name.size() > std::strlen(ext) &&
            name.compare(name.size() - std::strlen(ext), std::string::npos, ext) == 0) {
            const std::string entry = name.substr(0, name.size() - std::strlen(ext));
            return entry == "externalcompute" || findEntryPoint(entry) != nullptr;
        }
    return false;
}

// Whether the regular file `path` is the one listed as `f`: its size, and
// its time written or, where that moved (a copy, a checkout), its bytes.
bool asListed(const fs::path &path, const Listed &f) {
    platform::FileIdentity id;
    std::string error;
    if (!platform::identifyFile(path.string(), false, id, error) || id.size != f.size) return false;
    return id.modified == f.modified ||
           (platform::identifyFile(path.string(), true, id, error) && id.hash == f.hash);
}

// The entries of `dir` that no run of the bench wrote as they are now: any
// but the marker that its list does not name, or that changed since, or
// that is no regular file (a folder, a link); for a folder whose marker
// lists nothing, any that is not a file of an earlier version's run; every
// one where there is no marker. Their names, "/" after a folder's, sorted.
std::vector<std::string> foreignEntries(const fs::path &dir) {
    std::map<std::string, Listed> files;
    const Marker marker = readList(dir, files);
    std::vector<std::string> foreign;
    std::error_code ec;
    for (const auto &e : fs::directory_iterator(dir, ec)) {
        const std::string name = e.path().filename().string();
        if (name == kMarker) continue;
        std::error_code ignored;
        const fs::file_status st = e.symlink_status(ignored);
        const auto it = files.find(name);
        const bool ours =
            fs::is_regular_file(st) &&
            (marker == Marker::Listed    ? it != files.end() && asListed(e.path(), it->second)
             : marker == Marker::Earlier ? earlierRunsFile(name)
                                         : false);
        if (!ours) foreign.push_back(name + (fs::is_directory(st) ? "/" : ""));
    }
    if (ec) foreign.push_back("(" + ec.message() + ")");
    std::sort(foreign.begin(), foreign.end());
    return foreign;
}

// "a, b and 3 more": names to show in one line.
std::string someNames(const std::vector<std::string> &names) {
    std::string t;
    for (size_t k = 0; k < names.size() && k < 5; ++k)
        t += (k ? ", " : "") + shownPath(names[k]);
    if (names.size() > 5) t += " and " + std::to_string(names.size() - 5) + " more";
    return t;
}

// Why the existing folder `dir` may not be replaced, or "": it belongs to
// another user, or holds what no run of the bench wrote.
std::string whyNotReplaced(const fs::path &dir) {
    if (!platform::ownedByMe(dir.string()))
        return "belongs to another user: choose a folder of your own";
    const std::vector<std::string> foreign = foreignEntries(dir);
    if (foreign.empty()) return "";
    return "holds files no run of vulmora-host wrote (" + someNames(foreign) +
           "): choose another folder, or move them";
}

// The marker of a finished run: the list of every file in `dir`.
bool writeList(const fs::path &dir, std::string &error) {
    std::string text = std::string(kListed) + "\n";
    std::error_code ec;
    for (const auto &e : fs::directory_iterator(dir, ec)) {
        const std::string name = e.path().filename().string();
        if (name == kMarker) continue;
        platform::FileIdentity id;
        if (!platform::identifyFile(e.path().string(), true, id, error)) return false;
        char line[96];
        std::snprintf(line, sizeof line, "%llu %lld %016llx ", (unsigned long long)id.size,
                      (long long)id.modified, (unsigned long long)id.hash);
        text += line + name + "\n";
    }
    if (ec) return error = dir.string() + ": " + ec.message(), false;
    CheckedFile f((dir / kMarker).string());
    f.write(text.data(), text.size());
    return f.close(error);
}

// Remove what runs of `name` in `parent` killed without warning left: the
// partial folders and the old ones of an unfinished exchange, untouched for
// a minute (a run that is committing has just written into its own). The
// caller holds the target's lock, so no other run is writing them.
void removeLeftovers(const fs::path &parent, const std::string &name) {
    std::error_code ec;
    const auto now = fs::file_time_type::clock::now();
    const std::string partial = "." + name + ".partial-", old = "." + name + ".old-";
    for (const auto &e : fs::directory_iterator(parent, ec)) {
        std::error_code ignored;
        const std::string n = e.path().filename().string();
        if ((n.rfind(partial, 0) != 0 && n.rfind(old, 0) != 0) || e.is_symlink(ignored) ||
            !e.is_directory(ignored) || !platform::ownedByMe(e.path().string()))
            continue;
        const auto touched = fs::last_write_time(e.path(), ignored);
        if (!ignored && now - touched >= std::chrono::minutes(1)) fs::remove_all(e.path(), ignored);
    }
}

} // namespace

OutputFolder::~OutputFolder() {
    discard();
}

bool OutputFolder::claim(const std::string &target, std::string &error) {
    std::error_code ec;
    if (target.empty()) return error = "--output needs a folder name", false;
    fs::path abs = fs::absolute(target, ec).lexically_normal();
    if (ec) return error = "--output " + target + ": " + ec.message(), false;
    if (!abs.has_filename()) abs = abs.parent_path();
    const std::string name = abs.filename().string();
    if (name.empty() || name == "." || name == "..")
        return error = "--output " + target + " does not name a folder", false;
    const fs::path parent = abs.parent_path();
    fs::create_directories(parent, ec);
    if (ec) return error = "cannot make " + parent.string() + ": " + ec.message(), false;
    target_ = abs.string();
    const fs::file_status st = fs::symlink_status(abs, ec);
    const fs::path marker = abs / kMarker;
    if (fs::exists(st)) {
        if (fs::is_symlink(st))
            return error = "--output " + target_ + " is a link: name the folder itself", false;
        if (!fs::is_directory(st))
            return error = "--output " + target_ + " names a file, not a folder", false;
        if (const std::string why = whyNotReplaced(abs); !why.empty())
            return error = "--output " + target_ + " " + why, false;
    } else {
        if (!fs::create_directory(abs, ec) || ec)
            return error = "cannot make " + target_ + ": " +
                           (ec ? ec.message() : std::string("it appeared meanwhile")),
                   false;
        createdTarget_ = true;
    }
    // The marker's lock says that a run is writing this folder.
    std::string why;
    lock_ = platform::openExisting(marker.string(), platform::kAnySize, why);
    if (lock_ == -1) lock_ = platform::createExclusive(marker.string(), 0, why);
    if (lock_ == -1) return error = "cannot claim " + target_ + ": " + why, false;
    if (!platform::tryLock(lock_))
        return error = "another run of vulmora-host is writing " + target_, false;
    removeLeftovers(parent, name);
    partial_ = platform::makePrivateFolder(parent.string(), "." + name + ".partial-", why);
    if (partial_.empty()) return error = why, false;
    std::string ignored;
    platform::closeFile(
        platform::createExclusive((fs::path(partial_) / kMarker).string(), 0, ignored));
    return true;
}

// Exchange in one step where the system can; else move the old folder
// aside, the new one in, and remove the old.
bool OutputFolder::commit(std::string &error) {
    std::error_code ec;
    platform::closeFile(lock_); // Windows renames no folder with a file open inside
    lock_ = -1;
    // The list of what this run wrote, for the run that replaces it; and
    // the folder it replaces checked again, the user may have put
    // something there meanwhile.
    if (!writeList(partial_, error)) return false;
    if (!emptyButMarker(target_))
        if (const std::string why = whyNotReplaced(target_); !why.empty())
            return error = target_ + " " + why + " (since the run began)", false;
    // Private while it was written; now as any folder the user makes.
    fs::permissions(partial_, static_cast<fs::perms>(platform::newFolderPermissions()), ec);
    if (platform::exchangePaths(partial_, target_)) {
        fs::remove_all(partial_, ec);
    } else {
        std::string why;
        const fs::path t(target_);
        const std::string old = platform::makePrivateFolder(
            t.parent_path().string(), "." + t.filename().string() + ".old-", why);
        if (old.empty()) return error = why, false;
        fs::rename(t, fs::path(old) / "run", ec);
        if (!ec) fs::rename(partial_, t, ec);
        if (ec) return error = "cannot put the results in " + target_ + ": " + ec.message(), false;
        fs::remove_all(old, ec);
    }
    committed_ = true;
    partial_.clear();
    return true;
}

void OutputFolder::discard() {
    std::error_code ec;
    if (!partial_.empty() && !committed_) fs::remove_all(partial_, ec);
    partial_.clear();
    if (createdTarget_ && !committed_ && emptyButMarker(target_)) fs::remove_all(target_, ec);
    createdTarget_ = false;
    platform::closeFile(lock_);
    lock_ = -1;
}

// ---- checked files -------------------------------------------------------------

CheckedFile::CheckedFile(const std::string &path) : path_(path) {
    f_ = std::fopen(path.c_str(), "wb");
    if (!f_) failed();
}

CheckedFile::~CheckedFile() {
    if (f_) std::fclose(f_);
}

void CheckedFile::failed() {
    if (error_.empty()) error_ = path_ + ": " + std::strerror(errno ? errno : EIO);
}

void CheckedFile::printf(const char *format, ...) {
    if (!f_ || !ok()) return;
    va_list ap;
    va_start(ap, format);
    errno = 0;
    if (std::vfprintf(f_, format, ap) < 0) failed();
    va_end(ap);
}

void CheckedFile::write(const void *data, size_t n) {
    if (!f_ || !ok()) return;
    errno = 0;
    if (n && std::fwrite(data, 1, n, f_) != n) failed();
}

bool CheckedFile::close(std::string &error) {
    if (f_) {
        errno = 0;
        if (std::fflush(f_) != 0 || std::ferror(f_)) failed();
        errno = 0;
        if (std::fclose(f_) != 0) failed();
        f_ = nullptr;
    }
    if (!ok()) error = error_;
    return ok();
}

} // namespace vhost
