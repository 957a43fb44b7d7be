// scratch.cpp - a run's private folder, and the removal of those that
// runs killed without warning left behind.
#include "platform/scratch.h"

#include <chrono>
#include <filesystem>

namespace vhost {

namespace fs = std::filesystem;

namespace {

// The file a run locks in its scratch folder.
constexpr const char *kOwner = "owner";

// Remove the folders of `prefix` in `tmp` that runs killed without warning
// left: this user's, with an owner file made more than a minute ago (a run
// locks it at once after making its folder) whose lock is free.
void removeStaleFolders(const std::string &tmp, const std::string &prefix) {
    std::error_code ec;
    const auto now = fs::file_time_type::clock::now();
    for (const auto &e : fs::directory_iterator(tmp, ec)) {
        std::error_code ignored;
        const std::string name = e.path().filename().string();
        if (name.rfind(prefix, 0) != 0 || e.is_symlink(ignored) || !e.is_directory(ignored) ||
            !platform::ownedByMe(e.path().string()))
            continue;
        const fs::path owner = e.path() / kOwner;
        const auto made = fs::last_write_time(owner, ignored);
        if (ignored || now - made < std::chrono::minutes(1)) continue;
        std::string why;
        const platform::FileHandle f = platform::openExisting(owner.string(), 0, why);
        if (f == -1) continue;
        const bool stale = platform::tryLock(f);
        platform::closeFile(f);
        if (stale) fs::remove_all(e.path(), ignored);
    }
}

} // namespace

bool Scratch::make(std::string &error, const char *prefix, uint64_t room) {
    const std::string tmp = platform::tempDirectory(error, room);
    if (tmp.empty()) return false;
    removeStaleFolders(tmp, prefix);
    dir_ = platform::makePrivateFolder(tmp, prefix, error);
    if (dir_.empty()) return false;
    owner_ = platform::createExclusive((fs::path(dir_) / kOwner).string(), 0, error);
    return owner_ != -1 && platform::tryLock(owner_);
}

Scratch::~Scratch() {
    platform::closeFile(owner_); // a folder with an open file in it stays on Windows
    std::error_code ec;
    if (!dir_.empty()) fs::remove_all(dir_, ec);
}

} // namespace vhost
