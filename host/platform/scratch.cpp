// scratch.cpp - a run's private folder, and the removal of those that
// runs killed without warning left behind.
#include "platform/scratch.h"

#include <cctype>
#include <chrono>
#include <cstdio>
#include <filesystem>

namespace vhost {

namespace fs = std::filesystem;

namespace {

// The file a run locks in its scratch folder.
constexpr const char *kOwner = "owner";

// Whether `name` is one of the files the bench makes in a scratch folder:
// a worker's result file (<name>.bin) and a diagnostic worker's file
// beside it (<name>.bin.diag), a path (path.csv), a call's counters; the
// owner file aside.
bool scratchFile(const std::string &fileName) {
    if (fileName == "counters" || fileName == "path.csv") return true;
    const bool diag = fileName.ends_with(".bin.diag");
    const std::string name = diag ? fileName.substr(0, fileName.size() - 5) : fileName;
    if (name.size() <= 4 || name.compare(name.size() - 4, 4, ".bin") != 0) return false;
    for (char c : name)
        if (!std::isalnum(static_cast<unsigned char>(c)) && c != '_' && c != '.') return false;
    return true;
}

// Why the folder `dir` is not one a run killed without warning left as
// the bench makes them, or "": this user's alone (mode 0700), an owner
// file made more than a minute ago (a run locks it at once after making
// its folder) whose lock is free, and else only files the bench makes.
std::string whyNotStale(const fs::path &dir) {
    if (!platform::isPrivateFolder(dir.string())) return "not this user's alone";
    std::error_code ec;
    const fs::path owner = dir / kOwner;
    if (!fs::is_regular_file(fs::symlink_status(owner, ec))) return "no owner file";
    const auto made = fs::last_write_time(owner, ec);
    if (ec || fs::file_time_type::clock::now() - made < std::chrono::minutes(1))
        return "in use"; // a run that is starting: not worth a word
    for (const auto &e : fs::directory_iterator(dir, ec)) {
        std::error_code ignored;
        const std::string name = e.path().filename().string();
        if (name != kOwner &&
            (!scratchFile(name) || !e.is_regular_file(ignored) || e.is_symlink(ignored)))
            return "it holds " + name;
    }
    if (ec) return ec.message();
    std::string why;
    const platform::FileHandle f = platform::openExisting(owner.string(), 0, why);
    if (f == -1) return "its owner file is not the bench's";
    const bool stale = platform::tryLock(f);
    platform::closeFile(f);
    return stale ? "" : "in use";
}

// `text` with every control character as '?', for one line of a message.
std::string printable(std::string text) {
    for (char &c : text)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) c = '?';
    return text;
}

// A name the bench makes: `prefix` and the random part the platform adds
// (six letters or digits here, twelve hexadecimal digits on Windows). A
// user's own folder that merely starts with the prefix is not looked at.
bool scratchName(const std::string &name, const std::string &prefix) {
    if (name.rfind(prefix, 0) != 0) return false;
    const std::string_view rest = std::string_view(name).substr(prefix.size());
    if (rest.size() != 6 && rest.size() != 12) return false;
    for (char c : rest)
        if (!std::isalnum(static_cast<unsigned char>(c))) return false;
    return true;
}

// Remove the folders of `prefix` in `tmp` that runs killed without warning
// left, each exactly as the bench makes them; a folder of that name that
// is anything else is left as it is, and named.
void removeStaleFolders(const std::string &tmp, const std::string &prefix) {
    std::error_code ec;
    for (const auto &e : fs::directory_iterator(tmp, ec)) {
        std::error_code ignored;
        const std::string name = e.path().filename().string();
        if (!scratchName(name, prefix) || e.is_symlink(ignored) || !e.is_directory(ignored))
            continue;
        const std::string why = whyNotStale(e.path());
        if (why.empty())
            fs::remove_all(e.path(), ignored);
        else if (why != "in use" && platform::ownedByMe(e.path().string()))
            std::fprintf(stderr,
                         "vulmora-host: %s is named like a scratch folder of this program's but "
                         "is not one it left (%s): left as it is\n",
                         printable(e.path().string()).c_str(), printable(why).c_str());
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
