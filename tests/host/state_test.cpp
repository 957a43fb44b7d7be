// state_test.cpp - the state file: what the writer puts where, and the
// reader's refusal of every kind of damage, one line each.
#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include <sys/stat.h>
#include <unistd.h>

#include "host/replay/state.h"
#include "hostlib/host_run.h"
#include "hostlib/vtu_arrays.h"
#include "platform/files.h"
#include "child.h"

namespace fs = std::filesystem;

namespace {

// A small block: one hexahedron and one tetrahedron-like type-2 element
// (4 nodes, 1 point), 9 nodes, every section filled with distinct values.
struct Block {
    static constexpr char kRecord[] = "vulmora 1.0.0\nsource a.c 00\n";
    std::vector<int> types{1, 2}, mats{0, 1};
    std::vector<int> hex{0, 1, 2, 3, 4, 5, 6, 7}, tet{4, 5, 6, 8};
    std::vector<int *> rows{hex.data(), tet.data()};
    std::vector<double> x, y, z;
    std::vector<float> nodal, points, stress, vol{1.5f, 0.25f};
    std::vector<int> lastp = std::vector<int>(VULMORA_STATE_LASTP_LEN, 0);
    double locMicro[200] = {0};
    char names[505] = "elongation", units[105] = "%";
    int nnode[12] = {0, 8, 4, 6, 8, 6, 4, 3, 4, 2, 10, 12};
    int ngp[12] = {0, 8, 1, 6, 8, 6, 4, 3, 4, 2, 4, 8};
    vulmora_state_micro micro[2] = {{0, 1, 3, 0, 0.25}, {1, 0, 3, 0, 42.0}};
    vulmora_state_name names1[1] = {{0, 4, "Al2Cu"}};
    vulmora_state_view view{};
    vulmora_state_call call{};

    Block() {
        for (int i = 0; i < 9; ++i) {
            x.push_back(i), y.push_back(2.0 * i), z.push_back(-i);
            nodal.push_back(300.0f + static_cast<float>(i));
        }
        for (int p = 0; p < 9; ++p)
            points.push_back(0.5f * static_cast<float>(p));
        for (int k = 0; k < 9 * 6; ++k)
            stress.push_back(static_cast<float>(k));
        lastp[3] = 1;
        locMicro[7] = 3.5;
        view.nnod = view.nvnod = 9, view.nel = 2, view.nstr1 = 6, view.cur_node = 3;
        view.location = 1, view.user_unit_temp = 2, view.func_temp = -9999.0;
        view.stress_scale = 2.0;
        const void **d = view.data;
        d[VULMORA_SECTION_el_type] = types.data(), d[VULMORA_SECTION_mat_id] = mats.data();
        d[VULMORA_SECTION_ncon] = rows.data();
        d[VULMORA_SECTION_x_cord] = x.data(), d[VULMORA_SECTION_y_cord] = y.data();
        d[VULMORA_SECTION_z_cord] = z.data(), d[VULMORA_SECTION_el_vol] = vol.data();
        for (int s = VULMORA_SECTION_t0; s <= VULMORA_SECTION_mushy_strain; ++s)
            d[s] = nodal.data();
        d[VULMORA_SECTION_fraction_void] = d[VULMORA_SECTION_epstn_new] = points.data();
        d[VULMORA_SECTION_strsg] = stress.data();
        d[VULMORA_SECTION_mic_lastp] = lastp.data(), d[VULMORA_SECTION_loc_micro] = locMicro;
        d[VULMORA_SECTION_name_mechprop] = names, d[VULMORA_SECTION_unit_mechprop] = units;
        d[VULMORA_SECTION_el_nnode] = nnode, d[VULMORA_SECTION_el_ngp] = ngp;
        d[VULMORA_SECTION_micro_values] = micro;
        view.micro_count = 2;
        d[VULMORA_SECTION_micro_names] = names1;
        view.name_count = 1;
        d[VULMORA_SECTION_build_record] = kRecord;
        view.record_length = sizeof kRecord - 1;
        call.writer = "state_test";
        call.library = "/nowhere/libx.so";
        call.entry = "density";
        call.argument = 4;
        call.trigger = VULMORA_TRIGGER_NONFINITE;
        call.outcome = VULMORA_OUTCOME_RETURNED;
        call.result_bits = 0x7ff8000000000123ull;
    }

    std::vector<unsigned char> bytes() const {
        const fs::path p = fs::temp_directory_path() / ("state_test-" + std::to_string(getpid()));
        std::string error;
        EXPECT_TRUE(vhost::saveState(p.string(), view, call, error)) << error;
        std::ifstream in(p, std::ios::binary);
        std::vector<unsigned char> b((std::istreambuf_iterator<char>(in)), {});
        fs::remove(p);
        return b;
    }
};

vulmora_state_header &headerOf(std::vector<unsigned char> &b) {
    return *reinterpret_cast<vulmora_state_header *>(b.data());
}

// The table entry of section `name`.
vulmora_state_section *sectionOf(std::vector<unsigned char> &b, const char *name) {
    auto *t = reinterpret_cast<vulmora_state_section *>(b.data() + sizeof(vulmora_state_header));
    for (uint32_t k = 0; k < headerOf(b).section_count; ++k)
        if (std::strcmp(t[k].name, name) == 0) return &t[k];
    return nullptr;
}

TEST(StateFile, RoundTripKeepsEveryValueAndAlignsEveryArray) {
    Block blk;
    auto b = blk.bytes();
    vhost::State st;
    std::string error;
    ASSERT_TRUE(st.parse(b.data(), b.size(), error)) << error;
    const vulmora_state_header &h = st.header();
    EXPECT_EQ(h.nnod, 9);
    EXPECT_EQ(h.cur_node, 3);
    EXPECT_EQ(h.func_temp, -9999.0);
    EXPECT_STREQ(h.entry, "density");
    EXPECT_EQ(h.result_bits, 0x7ff8000000000123ull);
    EXPECT_EQ(h.file_size % VULMORA_STATE_ALIGN, 0u);
    for (int s = 0; s < VULMORA_SECTION_COUNT; ++s) {
        if (s == VULMORA_SECTION_sample_micro || s == VULMORA_SECTION_sample_aux) {
            EXPECT_EQ(st.data(s), nullptr);
            continue;
        }
        ASSERT_NE(st.data(s), nullptr) << s;
        EXPECT_EQ(reinterpret_cast<uintptr_t>(st.data(s)) % VULMORA_STATE_ALIGN, 0u) << s;
    }
    // Connectivity rows one after another: 8 + 4 entries.
    EXPECT_EQ(st.count(VULMORA_SECTION_ncon), 12u);
    ASSERT_EQ(st.rows().size(), 2u);
    EXPECT_EQ(st.rows()[1][3], 8);
    // Points: 8 + 1, stresses 6 per point.
    EXPECT_EQ(st.count(VULMORA_SECTION_fraction_void), 9u);
    EXPECT_EQ(st.array<float>(VULMORA_SECTION_strsg)[53], 53.0f);
    EXPECT_EQ(st.buildRecord(), Block::kRecord);
    EXPECT_EQ(st.array<double>(VULMORA_SECTION_y_cord)[8], 16.0);
    EXPECT_EQ(st.array<int>(VULMORA_SECTION_mic_lastp)[3], 1);
    EXPECT_EQ(st.array<double>(VULMORA_SECTION_loc_micro)[7], 3.5);
    EXPECT_STREQ(st.array<char>(VULMORA_SECTION_name_mechprop), "elongation");
    ASSERT_EQ(st.microCount(), 2u);
    EXPECT_EQ(st.micro()[1].value, 42.0);
    EXPECT_STREQ(st.array<vulmora_state_name>(VULMORA_SECTION_micro_names)[0].name, "Al2Cu");
}

TEST(StateFile, NullPointersLeaveTheirSectionsOut) {
    Block blk;
    blk.view.data[VULMORA_SECTION_t0] = nullptr;
    blk.view.data[VULMORA_SECTION_strsg] = nullptr;
    auto b = blk.bytes();
    vhost::State st;
    std::string error;
    ASSERT_TRUE(st.parse(b.data(), b.size(), error)) << error;
    EXPECT_EQ(st.data(VULMORA_SECTION_t0), nullptr);
    EXPECT_EQ(st.data(VULMORA_SECTION_strsg), nullptr);
    EXPECT_NE(st.data(VULMORA_SECTION_t1), nullptr);
}

// A replay names the host's arrays its state does not hold: their
// accessors return 0 there, which the captured call may not have seen.
TEST(StateFile, ArraysTheStateDoesNotHoldAreNamed) {
    Block blk;
    blk.view.data[VULMORA_SECTION_t0] = nullptr;
    blk.view.data[VULMORA_SECTION_strsg] = nullptr;
    const auto b = blk.bytes();
    const fs::path file =
        fs::temp_directory_path() / ("state_test_unset-" + std::to_string(getpid()) + ".vstate");
    std::ofstream(file, std::ios::binary)
        .write(reinterpret_cast<const char *>(b.data()), std::streamsize(b.size()));
    const auto r = vtest::runHost(VULMORA_HOST_EXE, "replay '" + file.string() +
                                                        "' --library " HOSTLIB_KNOWN
                                                        " --functions density --node 2");
    fs::remove(file);
    EXPECT_NE(r.out.find("not set:  t0, strsg (the state holds no such array: its accessors "
                         "return 0)\n"),
              std::string::npos)
        << r.out << r.err;
}

// Every kind of damage, and the words of the one-line refusal.
TEST(StateFile, DamagedFilesAreRefusedWithOneLine) {
    using Damage = std::function<void(std::vector<unsigned char> &)>;
    const struct {
        const char *what;
        Damage damage;
        const char *message;
    } cases[] = {
        {"empty", [](auto &b) { b.clear(); }, "truncated"},
        {"inside the header", [](auto &b) { b.resize(100); }, "truncated"},
        {"inside the table", [](auto &b) { b.resize(sizeof(vulmora_state_header) + 10); },
         "truncated"},
        {"last byte missing", [](auto &b) { b.pop_back(); }, "truncated"},
        {"trailing byte", [](auto &b) { b.push_back(0); }, "trailing"},
        {"magic", [](auto &b) { b[0] = 'X'; }, "not a state file"},
        {"version", [](auto &b) { headerOf(b).version = 2; }, "version 2"},
        {"byte order", [](auto &b) { headerOf(b).byte_order = 0x04030201u; }, "byte order"},
        {"byte-order mark", [](auto &b) { headerOf(b).byte_order = 7; }, "byte-order"},
        {"header size", [](auto &b) { headerOf(b).header_size = 64; }, "header size"},
        {"too many sections", [](auto &b) { headerOf(b).section_count = 1000; }, "sections"},
        {"nnod disagrees", [](auto &b) { headerOf(b).nnod = 10; }, "has 9 items"},
        {"negative count", [](auto &b) { headerOf(b).nel = -1; }, "negative"},
        {"nstr1 overflows", [](auto &b) { headerOf(b).nstr1 = 0x7fffffff; }, "strsg"},
        {"count past the end", [](auto &b) { sectionOf(b, "t1")->count = 0x2000000000000000ull; },
         "past the end"},
        {"offset past the end", [](auto &b) { sectionOf(b, "x_cord")->offset = 1ull << 40; },
         "past the end"},
        {"offset wraps", [](auto &b) { sectionOf(b, "x_cord")->offset = ~63ull; }, "past the end"},
        {"unaligned", [](auto &b) { sectionOf(b, "t0")->offset += 4; }, "aligned"},
        {"over the header", [](auto &b) { sectionOf(b, "t0")->offset = 0; }, "overlaps"},
        {"unknown name", [](auto &b) { std::strcpy(sectionOf(b, "t0")->name, "t9"); }, "unknown"},
        {"twice", [](auto &b) { std::strcpy(sectionOf(b, "t0")->name, "t1"); }, "twice"},
        {"wrong type", [](auto &b) { sectionOf(b, "t0")->type = VULMORA_STATE_F64; }, "type"},
        {"name unterminated",
         [](auto &b) { std::memset(sectionOf(b, "t0")->name, 'a', VULMORA_STATE_NAME_LEN); },
         "terminated"},
        {"entry unterminated", [](auto &b) { std::memset(headerOf(b).entry, 'a', 32); },
         "terminated"},
        {"unknown entry", [](auto &b) { std::strcpy(headerOf(b).entry, "nothing"); }, "unknown"},
        {"cur_node", [](auto &b) { headerOf(b).cur_node = 9; }, "cur_node"},
        {"location", [](auto &b) { headerOf(b).location = 77; }, "location 77 is none"},
        {"trigger", [](auto &b) { headerOf(b).trigger = 9; }, "trigger"},
        {"element type",
         [](auto &b) {
             headerOf(b).trigger = 0;
             auto *s = sectionOf(b, "el_type");
             reinterpret_cast<int32_t *>(b.data() + s->offset)[1] = 12;
         },
         "type code"},
        {"connectivity",
         [](auto &b) {
             auto *s = sectionOf(b, "ncon");
             reinterpret_cast<int32_t *>(b.data() + s->offset)[11] = 9;
         },
         "outside the mesh"},
        {"per-type table",
         [](auto &b) {
             auto *s = sectionOf(b, "el_ngp");
             reinterpret_cast<int32_t *>(b.data() + s->offset)[1] = -8;
         },
         "el_ngp"},
        {"micro record",
         [](auto &b) {
             auto *s = sectionOf(b, "micro_values");
             reinterpret_cast<vulmora_state_micro *>(b.data() + s->offset)[0].kind = 5;
         },
         "micro_values"},
        {"name record",
         [](auto &b) {
             auto *s = sectionOf(b, "micro_names");
             std::memset(b.data() + s->offset + 8, 'x', VULMORA_STATE_MICRO_NAME_LEN);
         },
         "micro_names"},
    };
    const std::vector<unsigned char> good = Block().bytes();
    for (const auto &c : cases) {
        auto b = good;
        c.damage(b);
        vhost::State st;
        std::string error;
        EXPECT_FALSE(st.parse(b.data(), b.size(), error)) << c.what;
        EXPECT_NE(error.find(c.message), std::string::npos) << c.what << ": " << error;
        EXPECT_EQ(error.find('\n'), std::string::npos) << c.what;
    }
}

// The emulator: a bad file is one line on stderr and exit status 2; the
// sample saved and replayed at a node gives what the probe gives.
TEST(StateFile, EmulatorSavesItsSampleAndRefusesBadFiles) {
    const fs::path dir = fs::temp_directory_path() / ("state_test_dir-" + std::to_string(getpid()));
    fs::create_directories(dir);
    const std::string file = (dir / "sample.vstate").string();
    auto saved = vtest::runHost(VULMORA_HOST_EXE, "--library " HOSTLIB_KNOWN
                                                  " --nodes-per-side 5 --steps 3 --step 2 "
                                                  "--save-state '" +
                                                      file + "'");
    ASSERT_EQ(saved.status, 0) << saved.err;
    vhost::State st;
    std::string error;
    ASSERT_TRUE(vhost::loadState(file, st, error)) << error;
    EXPECT_EQ(st.header().nnod, 125);
    EXPECT_EQ(st.header().step, 2);
    EXPECT_EQ(st.header().sample_constituents, 3);

    // func_density of known.c is the temperature at the node.
    auto r =
        vtest::runHost(VULMORA_HOST_EXE, "replay '" + file + "' --functions density --node 17");
    EXPECT_EQ(r.status, 0) << r.out << r.err;
    char want[64];
    std::snprintf(want, sizeof want, "returned %.17g",
                  static_cast<double>(st.array<float>(VULMORA_SECTION_t1)[16]));
    EXPECT_NE(r.out.find(want), std::string::npos) << r.out;
    // Every node, on the sample's hexahedra.
    r = vtest::runHost(VULMORA_HOST_EXE,
                       "replay '" + file + "' --functions density --node 1 --all-nodes --output '" +
                           (dir / "out").string() + "'");
    EXPECT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_NE(r.out.find("every node: 125 values, 0 non-finite"), std::string::npos) << r.out;
    { // known.c's density is the temperature: the extremes of t1
        const float *t1 = st.array<float>(VULMORA_SECTION_t1);
        const auto [lo, hi] = std::minmax_element(t1, t1 + 125);
        char want[96];
        std::snprintf(want, sizeof want, "min %.9g,", double(*lo));
        EXPECT_NE(r.out.find(want), std::string::npos) << r.out;
        std::snprintf(want, sizeof want, "max %.9g\n", double(*hi));
        EXPECT_NE(r.out.find(want), std::string::npos) << r.out;
    }
    const std::string vtu = vtest::slurp(dir / "out" / "density-replay.vtu");
    EXPECT_NE(vtu.find("NumberOfPoints=\"125\" NumberOfCells=\"64\""), std::string::npos);
    EXPECT_EQ(vtest::binaryArray<uint8_t>(vtu, "types"),
              std::vector<uint8_t>(64, 12)); // one hexahedron per element
    { // every value with all its bits: the temperature, widened
        const float *t1 = st.array<float>(VULMORA_SECTION_t1);
        EXPECT_EQ(vtest::binaryArray<float>(vtu, "T_K"), std::vector<float>(t1, t1 + 125));
        EXPECT_EQ(vtest::binaryArray<double>(vtu, "func_density"),
                  std::vector<double>(t1, t1 + 125));
    }
    // A state that holds every array says nothing of arrays not set.
    EXPECT_EQ(r.out.find("not set:"), std::string::npos) << r.out;
    // A mechanical property reads the sample's whole microstructure.
    r = vtest::runHost(VULMORA_HOST_EXE, "replay '" + file + "' --functions yieldstress --node 63");
    EXPECT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_EQ(r.out.find("not recorded"), std::string::npos) << r.out;

    {
        std::ofstream cut(dir / "cut.vstate", std::ios::binary);
        cut << vtest::slurp(file).substr(0, 3000);
    }
    r = vtest::runHost(VULMORA_HOST_EXE, "replay '" + (dir / "cut.vstate").string() + "'");
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(vtest::occurrences(r.err, "\n"), 1u) << r.err;
    EXPECT_NE(r.err.find("truncated"), std::string::npos) << r.err;
    r = vtest::runHost(VULMORA_HOST_EXE, "replay '" + file + "'");
    EXPECT_EQ(r.status, 2) << "a saved sample holds no call";
    fs::remove_all(dir);
}

// A fresh folder under the temporary one, removed at the end of the test.
struct Scratch {
    fs::path path;
    explicit Scratch(const char *name) {
        std::string t = (fs::temp_directory_path() / (std::string(name) + "-XXXXXX")).string();
        path = mkdtemp(t.data());
    }
    ~Scratch() { fs::remove_all(path); }
};

void writeText(const fs::path &p, const std::string &text) {
    std::ofstream(p, std::ios::binary) << text;
}

// The one atomic save of the library and the emulator: the partial file is
// always a new one (never a file or a link that is there already), it is
// removed when anything after its creation fails, and the target is
// replaced only by a whole file.
TEST(StateSave, WholeOrNotAtAllAndNeverThroughALink) {
    const Block blk;
    const Scratch dir("state_save");
    const fs::path decoy = dir.path / "decoy", nowhere = dir.path / "nowhere";
    const mode_t umaskBefore = umask(022);
    const struct {
        const char *what;
        std::function<void(const fs::path &target, const fs::path &part)> prepare;
        unsigned mode;
        size_t partRoom; // bytes for the partial file's name beyond the path's
        int rc, err;     // err 0: any errno
    } cases[] = {
        {"a new file", [](auto &, auto &) {}, 0600, 6, 0, 0},
        {"readable by all when asked", [](auto &, auto &) {}, 0644, 6, 0, 0},
        {"an older file replaced", [](auto &t, auto &) { writeText(t, "older"); }, 0600, 6, 0, 0},
        {"a link planted as the partial file",
         [&](auto &, auto &p) { fs::create_symlink(decoy, p); }, 0600, 6,
         VULMORA_STATE_SAVE_NOT_CREATED, EEXIST},
        {"a dangling link as the partial file",
         [&](auto &, auto &p) { fs::create_symlink(nowhere, p); }, 0600, 6,
         VULMORA_STATE_SAVE_NOT_CREATED, EEXIST},
        {"another writer's partial file", [](auto &, auto &p) { writeText(p, "theirs"); }, 0600, 6,
         VULMORA_STATE_SAVE_NOT_CREATED, EEXIST},
        {"no room for the partial file's name", [](auto &, auto &) {}, 0600, 5,
         VULMORA_STATE_SAVE_NOT_CREATED, ENAMETOOLONG},
        {"a folder in the target's place",
         [](auto &t, auto &) { fs::create_directories(t / "inside"); }, 0600, 6,
         VULMORA_STATE_SAVE_NOT_WRITTEN, 0},
    };
    int k = 0;
    for (const auto &c : cases) {
        const fs::path target = dir.path / ("state-" + std::to_string(k++)),
                       part = target.string() + ".part";
        writeText(decoy, "decoy");
        c.prepare(target, part);
        const bool partThere = fs::exists(fs::symlink_status(part));
        std::string room(target.string().size() + c.partRoom, 'x');
        errno = 0;
        const int rc = vulmora_state_save(target.c_str(), c.mode, &blk.view, &blk.call, room.data(),
                                          room.size());
        const int err = errno;
        EXPECT_EQ(rc, c.rc) << c.what;
        if (c.err) {
            EXPECT_EQ(err, c.err) << c.what;
        }
        EXPECT_EQ(vtest::slurp(decoy), "decoy") << c.what << ": written through a link";
        EXPECT_FALSE(fs::exists(nowhere)) << c.what << ": created through a link";
        // What was under the partial file's name is left alone; our own goes.
        EXPECT_EQ(fs::exists(fs::symlink_status(part)), partThere) << c.what;
        if (rc != 0) continue;
        vhost::State st;
        std::string error;
        ASSERT_TRUE(vhost::loadState(target.string(), st, error)) << c.what << ": " << error;
        EXPECT_EQ(st.header().nnod, 9) << c.what;
        struct stat info {};
        ASSERT_EQ(stat(target.c_str(), &info), 0);
        EXPECT_EQ(info.st_mode & 0777, c.mode) << c.what;
    }
    umask(umaskBefore);
}

// The emulator's messages: the partial file it could not make, or the
// target it could not write; a file it cannot load, with the reason.
TEST(StateSave, EmulatorSaysWhichFileFailedAndWhy) {
    const Block blk;
    const Scratch dir("state_messages");
    const fs::path taken = dir.path / "taken.vstate", folder = dir.path / "folder.vstate";
    fs::create_symlink(dir.path / "elsewhere", taken.string() + ".part");
    fs::create_directories(folder / "inside");
    writeText(dir.path / "empty.vstate", "");
    const struct {
        const char *what;
        bool save;
        fs::path path;
        std::string message;
    } cases[] = {
        {"partial file taken", true, taken, taken.string() + ".part: File exists"},
        {"folder in the way", true, folder,
         folder.string() + " is there and is not a state file: --save-state replaces only a "
                           "state file"},
        {"no such file", false, dir.path / "none", (dir.path / "none").string() + ": No such file"},
        {"a folder", false, folder, folder.string() + ": not a regular file"},
        {"empty", false, dir.path / "empty.vstate", "empty.vstate: truncated: 0 bytes"},
    };
    for (const auto &c : cases) {
        std::string error;
        vhost::State st;
        EXPECT_FALSE(c.save ? vhost::saveState(c.path.string(), blk.view, blk.call, error)
                            : vhost::loadState(c.path.string(), st, error))
            << c.what;
        EXPECT_NE(error.find(c.message), std::string::npos) << c.what << ": " << error;
    }
}

// --save-state writes a new file, or replaces a state file; anything else
// in its place is refused and left exactly as it was.
TEST(StateSave, OnlyAStateFileIsEverReplaced) {
    const Block blk;
    const Scratch dir("state_replace");
    const fs::path state = dir.path / "old.vstate";
    std::string error;
    ASSERT_TRUE(vhost::saveState(state.string(), blk.view, blk.call, error)) << error;
    writeText(dir.path / "notes.txt", "my notes");
    ASSERT_EQ(mkfifo((dir.path / "fifo").c_str(), 0600), 0);
    fs::create_symlink(state, dir.path / "link.vstate");
    writeText(dir.path / "short", "VUL");
    const struct {
        const char *name;
        bool replaced;
    } cases[] = {
        {"new.vstate", true}, {"old.vstate", true}, {"notes.txt", false},
        {"fifo", false},      {"short", false},     {"link.vstate", false},
    };
    for (const auto &c : cases) {
        const fs::path p = dir.path / c.name;
        const bool link = fs::is_symlink(p);
        const std::string before = fs::is_regular_file(p) && !link ? vtest::slurp(p) : "";
        const vtest::ChildResult r = vtest::runInChild([&] {
            alarm(10); // a wait on the path ends the child, and the test fails
            std::string why;
            std::printf("%s", vhost::saveState(p.string(), blk.view, blk.call, why) ? "saved"
                                                                                    : why.c_str());
        });
        ASSERT_TRUE(r.exited) << c.name;
        if (c.replaced) {
            EXPECT_EQ(r.out, "saved") << c.name;
            EXPECT_EQ(vtest::slurp(p).substr(0, 8), "VULMSTAT") << c.name;
            continue;
        }
        EXPECT_NE(r.out.find("is there and is not a state file"), std::string::npos)
            << c.name << ": " << r.out;
        EXPECT_EQ(fs::is_symlink(p), link) << c.name;
        if (!before.empty()) {
            EXPECT_EQ(vtest::slurp(p), before) << c.name;
        }
        EXPECT_FALSE(fs::exists(p.string() + ".part")) << c.name;
    }
    EXPECT_TRUE(fs::is_fifo(dir.path / "fifo"));
}

} // namespace

// A state file is read once, into memory of the reader's own: rewriting or
// truncating the file afterwards changes nothing of what was read (and
// touching it never faults).
TEST(FileImage, LaterChangesToTheFileNeverReachWhatWasRead) {
    const fs::path path = fs::temp_directory_path() / ("image-" + std::to_string(getpid()));
    std::vector<unsigned char> bytes(3 * 4096 + 17);
    for (size_t i = 0; i < bytes.size(); ++i)
        bytes[i] = static_cast<unsigned char>(i * 7 + 1);
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char *>(bytes.data()), std::streamsize(bytes.size()));
    vhost::platform::FileImage image;
    std::string error;
    ASSERT_TRUE(vhost::platform::loadFileImage(path.string(), image, error)) << error;
    ASSERT_EQ(image.size, bytes.size());
    std::ofstream(path, std::ios::binary | std::ios::trunc) << "changed";
    fs::resize_file(path, 0);
    EXPECT_TRUE(std::equal(bytes.begin(), bytes.end(), image.data));
    vhost::platform::freeFileImage(image);
    fs::remove(path);
}

// Anything but a regular file is refused at once: a FIFO with no writer
// (which an open for reading would wait on), a device, a folder.
TEST(FileImage, AnythingButARegularFileIsRefusedWithoutWaiting) {
    const fs::path fifo = fs::temp_directory_path() / ("fifo-" + std::to_string(getpid()));
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0) << std::strerror(errno);
    const std::string paths[] = {fifo.string(), "/dev/null", fs::temp_directory_path().string()};
    for (const std::string &path : paths) {
        const vtest::ChildResult r = vtest::runInChild([&] {
            alarm(10); // a wait on the path ends the child, and the test fails
            vhost::platform::FileImage image;
            std::string error;
            const bool loaded = vhost::platform::loadFileImage(path, image, error);
            std::printf("%s", loaded ? "loaded" : error.c_str());
        });
        EXPECT_TRUE(r.exited) << path << " (signal " << r.status << ")";
        EXPECT_EQ(r.out, "not a regular file") << path;
    }
    fs::remove(fifo);
}
