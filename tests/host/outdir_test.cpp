// outdir_test.cpp - the output folder: a run's folder is replaced by the
// next run only while it holds the files its run wrote, as they were
// written, and belongs to this user; anything else in it is named and
// nothing is removed.
#include <gtest/gtest.h>

#include <stdlib.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "hostlib/host_run.h"
#include "output/outdir.h"

namespace fs = std::filesystem;

namespace {

// A folder of this test alone, removed when it goes.
struct TempDir {
    fs::path path;
    TempDir() {
        std::string t = (fs::temp_directory_path() / "vulmora-outdir-XXXXXX").string();
        path = mkdtemp(t.data());
    }
    ~TempDir() {
        std::error_code ec;
        fs::remove_all(path, ec);
    }
};

void writeFile(const fs::path &path, const std::string &text) {
    std::ofstream(path, std::ios::binary) << text;
}

// A run's results into `target`, as the bench writes them: its files in
// the claimed folder, then the folder put in place. "" or the reason.
std::string run(const fs::path &target, const std::vector<std::string> &files,
                const std::function<void()> &meanwhile = {}) {
    vhost::OutputFolder out;
    std::string error;
    if (!out.claim(target.string(), error)) return error;
    for (const std::string &name : files) {
        vhost::CheckedFile f((fs::path(out.partial()) / name).string());
        f.printf("%s of this run\n", name.c_str());
        if (!f.close(error)) return error;
    }
    if (meanwhile) meanwhile();
    return out.commit(error) ? "" : error;
}

} // namespace

TEST(OutputFolder, ARunsFolderIsReplacedOnlyAsItsRunLeftIt) {
    const struct {
        const char *what;
        std::function<void(const fs::path &)> spoil;
        const char *names; // what the refusal names; "" when the folder is replaced
    } cases[] = {
        {"as written", [](const fs::path &) {}, ""},
        {"a file removed", [](const fs::path &d) { fs::remove(d / "density.csv"); }, ""},
        {"only its time changed (a copy, a checkout)",
         [](const fs::path &d) {
             fs::last_write_time(d / "run.txt",
                                 fs::file_time_type::clock::now() - std::chrono::hours(5));
         },
         ""},
        {"a file added", [](const fs::path &d) { writeFile(d / "my-notes.txt", "mine"); },
         "(my-notes.txt)"},
        {"a file changed, its size kept",
         [](const fs::path &d) {
             const auto written = fs::last_write_time(d / "run.txt");
             writeFile(d / "run.txt", "RUN.TXT of this run\n");
             fs::last_write_time(d / "run.txt", written + std::chrono::seconds(1));
         },
         "(run.txt)"},
        {"a folder", [](const fs::path &d) { fs::create_directory(d / "figures"); }, "(figures/)"},
        {"a link", [](const fs::path &d) { fs::create_symlink("/etc/passwd", d / "density.vtu"); },
         "(density.vtu)"},
        {"a file swapped for a link to its copy",
         [](const fs::path &d) {
             fs::copy_file(d / "run.txt", d.parent_path() / "copy.txt");
             fs::remove(d / "run.txt");
             fs::create_symlink(d.parent_path() / "copy.txt", d / "run.txt");
         },
         "(run.txt)"},
        {"an earlier version's folder, its files only",
         [](const fs::path &d) { writeFile(d / ".vulmora-host", ""); }, ""},
        {"an earlier version's folder with a file of the user's",
         [](const fs::path &d) {
             writeFile(d / ".vulmora-host", "");
             writeFile(d / "thesis.tex", "x");
         },
         "(thesis.tex)"},
        {"no marker at all", [](const fs::path &d) { fs::remove(d / ".vulmora-host"); },
         "(density.csv, run.txt)"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        TempDir dir;
        const fs::path out = dir.path / "out";
        ASSERT_EQ(run(out, {"density.csv", "run.txt"}), "");
        c.spoil(out);
        std::vector<std::string> before;
        for (const auto &e : fs::directory_iterator(out))
            before.push_back(e.path().filename().string());
        const std::string error = run(out, {"yieldstress.csv"});
        if (!*c.names) {
            EXPECT_EQ(error, "");
            EXPECT_TRUE(fs::exists(out / "yieldstress.csv"));
            EXPECT_FALSE(fs::exists(out / "density.csv"));
            continue;
        }
        EXPECT_EQ(error, "--output " + out.string() + " holds files no run of vulmora-host wrote " +
                             c.names + ": choose another folder, or move them");
        std::vector<std::string> after;
        for (const auto &e : fs::directory_iterator(out))
            after.push_back(e.path().filename().string());
        EXPECT_EQ(after, before) << "nothing is removed";
        EXPECT_FALSE(fs::exists(out / "yieldstress.csv"));
    }
}

// A file the user puts into the folder while a run writes its results
// stops the run from replacing it.
TEST(OutputFolder, AFileAddedDuringTheRunIsKept) {
    TempDir dir;
    const fs::path out = dir.path / "out";
    ASSERT_EQ(run(out, {"density.csv"}), "");
    const std::string error =
        run(out, {"yieldstress.csv"}, [&] { writeFile(out / "plan.txt", "mine"); });
    EXPECT_NE(error.find("holds files no run of vulmora-host wrote (plan.txt)"), std::string::npos)
        << error;
    EXPECT_TRUE(fs::exists(out / "plan.txt"));
    EXPECT_TRUE(fs::exists(out / "density.csv"));
}

// A folder another user owns is never replaced, whatever it holds (only
// root can make one here).
TEST(OutputFolder, AnotherUsersFolderIsRefused) {
    if (geteuid() != 0) GTEST_SKIP() << "needs root to give a folder to another user";
    TempDir dir;
    const fs::path out = dir.path / "out";
    ASSERT_EQ(run(out, {"density.csv"}), "");
    ASSERT_EQ(chown(out.c_str(), 65534, 65534), 0);
    EXPECT_EQ(run(out, {"yieldstress.csv"}),
              "--output " + out.string() + " belongs to another user: choose a folder of your own");
    EXPECT_TRUE(fs::exists(out / "density.csv"));
}

// The bench says the same, exits with status 2, and the user's file stays.
TEST(OutputFolder, TheProgramRefusesAFolderWithAFileAdded) {
    TempDir dir;
    const fs::path out = dir.path / "keep1";
    const std::string args = std::string("--library '") + HOSTLIB_KNOWN +
                             "' --nodes-per-side 4 --steps 1 --no-plots --functions density "
                             "--output '" +
                             out.string() + "'";
    ASSERT_EQ(vtest::runHost(VULMORA_HOST_EXE, args).status, 0);
    writeFile(out / "my-notes.txt", "mine");
    const vtest::HostResult r = vtest::runHost(VULMORA_HOST_EXE, args);
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.err, "vulmora-host: --output " + out.string() +
                         " holds files no run of vulmora-host wrote (my-notes.txt): choose "
                         "another folder, or move them\n");
    EXPECT_EQ(vtest::slurp(out / "my-notes.txt"), "mine");
}
