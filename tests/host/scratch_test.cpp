// scratch_test.cpp - the scratch folder: a run's own, and the sweep that
// removes what runs killed without warning left, exactly as the bench makes
// it and nothing else.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <stdlib.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>

#include "platform/scratch.h"

namespace fs = std::filesystem;

namespace {

// A folder of this test alone, removed when it goes.
struct TempDir {
    fs::path path;
    TempDir() {
        std::string t = (fs::temp_directory_path() / "vulmora-scratch-XXXXXX").string();
        path = mkdtemp(t.data());
    }
    ~TempDir() {
        std::error_code ec;
        fs::remove_all(path, ec);
    }
};

// A scratch folder as a run killed without warning leaves it: mode 0700,
// its owner file two minutes old, a result file.
fs::path leftBehind(const fs::path &tmp, const std::string &name) {
    const fs::path d = tmp / name;
    fs::create_directory(d);
    fs::permissions(d, fs::perms::owner_all, fs::perm_options::replace);
    std::ofstream(d / "density.bin") << "values";
    std::ofstream(d / "owner");
    fs::last_write_time(d / "owner", fs::file_time_type::clock::now() - std::chrono::minutes(2));
    return d;
}

} // namespace

// An empty TMPDIR is no folder: the system's default is taken.
TEST(Scratch, AnEmptyTmpdirIsTheDefault) {
    setenv("TMPDIR", "", 1);
    vhost::Scratch s;
    std::string error;
    ASSERT_TRUE(s.make(error)) << error;
    EXPECT_TRUE(s.dir().rfind("/tmp/", 0) == 0 || s.dir().rfind("/dev/shm/", 0) == 0) << s.dir();
    unsetenv("TMPDIR");
}

TEST(Scratch, TheSweepRemovesOnlyWhatTheBenchLeftAsItMakesIt) {
    int held = -1; // a lock held by a live run
    const struct {
        const char *what;
        std::function<void(const fs::path &)> change;
        bool removed;
        const char *name = nullptr;
    } cases[] = {
        {"a user's folder that starts like one", [](const fs::path &) {}, false,
         "vulmora-host-results"},
        {"as a killed run left it", [](const fs::path &) {}, true},
        {"with a path and counters",
         [](const fs::path &d) { std::ofstream(d / "path.csv"), std::ofstream(d / "counters"); },
         true},
        {"open to others (0755)",
         [](const fs::path &d) {
             fs::permissions(d, fs::perms::owner_all | fs::perms::group_read |
                                    fs::perms::group_exec | fs::perms::others_read |
                                    fs::perms::others_exec);
         },
         false},
        {"with the user's data", [](const fs::path &d) { std::ofstream(d / "thesis.tex"); }, false},
        {"with a folder", [](const fs::path &d) { fs::create_directory(d / "data"); }, false},
        {"with a link", [](const fs::path &d) { fs::create_symlink("/etc", d / "x.bin"); }, false},
        {"without its owner file", [](const fs::path &d) { fs::remove(d / "owner"); }, false},
        {"an owner file just made",
         [](const fs::path &d) {
             fs::last_write_time(d / "owner", fs::file_time_type::clock::now());
         },
         false},
        {"a run still holding it",
         [&held](const fs::path &d) {
             held = open((d / "owner").c_str(), O_RDWR);
             flock(held, LOCK_EX);
         },
         false},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        TempDir tmp;
        const fs::path d = leftBehind(tmp.path, c.name ? c.name : "vulmora-host-a1B2c3");
        c.change(d);
        setenv("TMPDIR", tmp.path.c_str(), 1);
        {
            vhost::Scratch s;
            std::string error;
            ASSERT_TRUE(s.make(error)) << error;
            EXPECT_EQ(fs::exists(d), !c.removed);
        }
        unsetenv("TMPDIR");
        if (held != -1) close(held), held = -1;
    }
}
