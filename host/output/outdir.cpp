// outdir.cpp - claiming, filling and committing the output folder.
#include "output/outdir.h"

#include <cerrno>
#include <chrono>
#include <cstring>
#include <filesystem>

namespace vhost {

namespace fs = std::filesystem;

namespace {

// The empty file that marks a folder as a run's results; its lock is held
// by the run that claimed the folder.
constexpr const char *kMarker = ".vulmora-host";

// True when `dir` holds nothing but, perhaps, the marker.
bool emptyButMarker(const fs::path &dir) {
    std::error_code ec;
    for (const auto &entry : fs::directory_iterator(dir, ec))
        if (entry.path().filename() != kMarker) return false;
    return !ec;
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
        if (!fs::is_regular_file(fs::symlink_status(marker, ec)) && !emptyButMarker(abs))
            return error = "--output " + target_ +
                           " holds files no run of vulmora-host wrote: choose another folder",
                   false;
    } else {
        if (!fs::create_directory(abs, ec) || ec)
            return error = "cannot make " + target_ + ": " +
                           (ec ? ec.message() : std::string("it appeared meanwhile")),
                   false;
        createdTarget_ = true;
    }
    // The marker's lock says that a run is writing this folder.
    std::string why;
    lock_ = platform::openExisting(marker.string(), 0, why);
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
