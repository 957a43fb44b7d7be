// curve_test.cpp - paths of states: the rules and tables that make them,
// the sample's grid holding one, the calls along it, the smoothness
// findings, and `vulmora-host curve` end to end.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <regex>
#include <limits>
#include <sstream>
#include <string>
#include <vector>

#include "checks/smoothness.h"
#include "curve/path_source.h"
#include "hostlib/host_run.h"
#include "model/caller.h"
#include "model/path.h"
#include "model/sample.h"
#include "output/labels.h"

namespace fs = std::filesystem;
using vhost::CurveSettings;
using vhost::Path;
namespace column = vhost::column;

namespace {

// The library's temperature converter for K and °C (offset 273.0).
double toKelvin(vhost::UnitConverter::Way way, int code, const vhost::Units &u, double x) {
    const double offset = code == -1 && u.temp == 2 ? 273.0 : 0.0;
    return way == vhost::UnitConverter::Way::ToInternal ? x + offset : x - offset;
}

// Kelvin for the table reader: K as is, °C by the library's offset.
double kelvin(int sel, double t) {
    return sel == 2 ? t + 273.0 : t;
}

// The path `o` describes, temperatures in the unit of selector `userTemp`;
// fails the test on an error.
Path built(const CurveSettings &o, int userTemp = 1, const vhost::Alloy &alloy = {}) {
    vhost::Units u;
    u.temp = userTemp;
    Path p;
    std::string error;
    EXPECT_TRUE(vhost::buildPath(o, alloy, vhost::UnitConverter(toKelvin, u), p, error)) << error;
    return p;
}

// A table read from `text`: true, or false with `error`.
bool readTable(const std::string &text, Path &p, std::string &error, int userTemp = 1) {
    std::vector<bool> given;
    return vhost::readPathTable(text, userTemp, kelvin, p, given, error);
}

// A scratch folder of the test's own, removed at the end.
struct Folder {
    fs::path dir;
    explicit Folder(const std::string &name)
        : dir(fs::temp_directory_path() /
              ("vulmora-curve-" + name + "-" + std::to_string(getpid()))) {
        fs::remove_all(dir);
        fs::create_directories(dir);
    }
    ~Folder() { fs::remove_all(dir); }
    fs::path write(const std::string &name, const std::string &text) const {
        std::ofstream(dir / name, std::ios::binary) << text;
        return dir / name;
    }
};

// The lines of `text`.
std::vector<std::string> lines(const std::string &text) {
    std::vector<std::string> out;
    std::stringstream in(text);
    for (std::string l; std::getline(in, l);)
        out.push_back(l);
    return out;
}

} // namespace

// ---- paths from the rules --------------------------------------------------------

TEST(CurvePath, EachRuleGivesItsSolidFraction) {
    struct Case {
        CurveSettings::FsRule rule;
        double T, fs; // K
    } cases[] = {
        {CurveSettings::FsRule::Lever, 888.0, 0.0},
        {CurveSettings::FsRule::Lever, 860.5, 0.5},
        {CurveSettings::FsRule::Lever, 833.0, 1.0},
        {CurveSettings::FsRule::Model, 860.5, 0.5}, // the history freezes by the lever rule
        // Scheil: 1 - ((933.47 - 860.5)/(933.47 - 888))^(1/(0.13 - 1)).
        {CurveSettings::FsRule::Scheil, 860.5, 1 - std::pow(72.97 / 45.47, 1 / -0.87)},
        {CurveSettings::FsRule::Scheil, 834.0, 1 - std::pow(99.47 / 45.47, 1 / -0.87)},
        {CurveSettings::FsRule::Scheil, 833.0, 1.0}, // the eutectic freezes the rest
        {CurveSettings::FsRule::Scheil, 900.0, 0.0},
    };
    for (const Case &c : cases) {
        CurveSettings o;
        o.fsRule = c.rule;
        o.at = {{"t1", c.T}};
        const Path p = built(o);
        ASSERT_EQ(p.points(), 1u);
        EXPECT_NEAR(p.at(column::fs1, 0), c.fs, 1e-12) << int(c.rule) << " at " << c.T;
    }
}

TEST(CurvePath, RangeRunsFromFromToToInTheUsersUnit) {
    CurveSettings o;
    Path p = built(o); // the alloy's history: from pouring to its end
    ASSERT_EQ(p.points(), 200u);
    EXPECT_DOUBLE_EQ(p.at(column::t1, 0), 973.0);
    EXPECT_DOUBLE_EQ(p.at(column::t1, 199), 293.0);
    o.fromGiven = o.toGiven = true; // °C
    o.from = 700, o.to = 500, o.points = 5;
    o.sets = {{"jctn1", 5.0}, {"SDAS", 40.0}};
    p = built(o, 2);
    ASSERT_EQ(p.points(), 5u);
    EXPECT_DOUBLE_EQ(p.at(column::t1, 0), 973.0);
    EXPECT_DOUBLE_EQ(p.at(column::t1, 4), 773.0);
    // The previous level is the previous point; the fixed fields stay fixed.
    EXPECT_DOUBLE_EQ(p.at(column::t0, 1), p.at(column::t1, 0));
    EXPECT_DOUBLE_EQ(p.at(column::jctn1, 3), 5.0);
    EXPECT_DOUBLE_EQ(p.at(column::kAuxiliaries, 3), 40.0);
    // Every column has a value at every point.
    for (size_t c = 0; c < column::kCount; ++c)
        EXPECT_EQ(p.values[c].size(), 5u) << vhost::columnName(c);
}

// A single point's temperature is in the user's unit, as a range's is.
TEST(CurvePath, APointsTemperatureIsInTheUsersUnit) {
    CurveSettings o;
    o.at = {{"t1", 650}};
    EXPECT_EQ(built(o, 2).at(column::t1, 0), 923.0);
    EXPECT_EQ(built(o, 1).at(column::t1, 0), 650.0);
}

// A table that gives the solid fraction marks the liquidus at its lowest
// all-liquid temperature and the solidus at its highest all-solid one.
TEST(CurvePath, ATablesFreezingRangeIsWhereItsSolidFractionSaysSo) {
    Folder f("range");
    CurveSettings o;
    o.table = f.write("fs.csv", "T,fs\n900,0\n880,0\n860,0.5\n840,1\n820,1\n").string();
    const Path p = built(o);
    EXPECT_EQ(p.liquidus, 880.0);
    EXPECT_EQ(p.solidus, 840.0);
}

TEST(CurvePath, TablesNameColumnsWithUnitsAndAliases) {
    Path p;
    std::string error;
    ASSERT_TRUE(readTable("# a Scheil path\n"
                          "T [\xc2\xb0"
                          "C], Solid Fraction, eutectic Si, t0 [K]\r\n"
                          "620, 0, 0, 900\n\n"
                          "600, 0.4, 0.01, 895\n",
                          p, error))
        << error;
    ASSERT_EQ(p.points(), 2u);
    EXPECT_DOUBLE_EQ(p.at(column::t1, 0), 893.0);
    EXPECT_DOUBLE_EQ(p.at(column::t0, 1), 895.0);
    EXPECT_DOUBLE_EQ(p.at(column::fs1, 1), 0.4);
    EXPECT_DOUBLE_EQ(p.at(column::kConstituents + 1, 1), 0.01);
    // Without a unit the temperature is in the user's.
    ASSERT_TRUE(readTable("temperature\n600\n", p, error, 2)) << error;
    EXPECT_DOUBLE_EQ(p.at(column::t1, 0), 873.0);
    // What the parent gives its workers reads back exactly.
    CurveSettings o;
    o.points = 7;
    const Path original = built(o);
    ASSERT_TRUE(readTable(vhost::pathTableText(original), p, error)) << error;
    for (size_t c = 0; c < column::kCount; ++c)
        EXPECT_EQ(p.values[c], original.values[c]) << vhost::columnName(c);
}

// What a table or a single point leaves out is named, with how the path
// filled it; a range, or a table that gives every column, has no note.
TEST(CurvePath, TheNoteNamesWhatATableLeftOutAndHowItWasFilled) {
    Folder f("note");
    vhost::Alloy eutectic;
    eutectic.eutectic = 850.0;
    const std::string everything = vhost::pathTableText(built(CurveSettings{}));
    const struct {
        const char *what;
        std::string table;
        std::vector<std::pair<std::string, double>> at;
        CurveSettings::FsRule rule;
        int userTemp;
        vhost::Alloy alloy;
        std::string note; // "" for none
    } cases[] = {
        {"a table of temperatures",
         "T\n900\n880\n",
         {},
         CurveSettings::FsRule::Lever,
         1,
         {},
         "note: fs by the alloy's lever rule (liquidus 888 K, solidus 833 K); t0, fs0 from the "
         "previous row; jctn1 1 K/s; microstructure from fs and jctn1; no porosity\n"},
        {"in the user's unit",
         "T\n900\n880\n",
         {},
         CurveSettings::FsRule::Lever,
         2,
         {},
         "note: fs by the alloy's lever rule (liquidus 615 \xc2\xb0"
         "C, solidus 560 \xc2\xb0"
         "C); "},
        {"with a eutectic",
         "T\n900\n880\n",
         {},
         CurveSettings::FsRule::Lever,
         1,
         eutectic,
         "(liquidus 888 K, eutectic 850 K)"},
        {"by Scheil's rule",
         "T\n900\n880\n",
         {},
         CurveSettings::FsRule::Scheil,
         1,
         {},
         "note: fs by Scheil's rule (k 0.13, liquidus 888 K); "},
        {"fs and more given",
         "T,fs,t0,jctn1,vf_s1\n900,0,901,2,0\n880,0.2,900,2,0\n",
         {},
         CurveSettings::FsRule::Lever,
         1,
         {},
         "note: t0, fs0 from the previous row; microstructure from fs and jctn1; no porosity\n"},
        {"every column", everything, {}, CurveSettings::FsRule::Lever, 1, {}, ""},
        {"a point",
         "",
         {{"t1", 870}, {"fs1", 0.3}},
         CurveSettings::FsRule::Lever,
         1,
         {},
         "note: t0, fs0 the point's own; jctn1 1 K/s; "},
        {"a range", "", {}, CurveSettings::FsRule::Lever, 1, {}, ""},
    };
    for (const auto &c : cases) {
        CurveSettings o;
        if (!c.table.empty()) o.table = f.write("note.csv", c.table).string();
        o.at = c.at;
        o.fsRule = c.rule;
        o.points = 5;
        vhost::Units u;
        u.temp = c.userTemp;
        const vhost::UnitConverter units(toKelvin, u);
        Path p;
        std::string error;
        ASSERT_TRUE(vhost::buildPath(o, c.alloy, units, p, error)) << c.what << ": " << error;
        const std::string note = vhost::derivedNote(o, p, c.alloy, units);
        if (c.note.empty()) {
            EXPECT_EQ(note, "") << c.what;
        } else {
            EXPECT_NE(note.find(c.note), std::string::npos) << c.what << ": " << note;
        }
        EXPECT_LE(std::count(note.begin(), note.end(), '\n'), 1) << c.what;
    }
}

TEST(CurvePath, BadTablesAreRefusedWithLineAndColumn) {
    const std::string huge = "T\n" + std::string(70000, '1') + "\n";
    struct Case {
        std::string text, error;
    } cases[] = {
        {"", "no header row (the file is empty)"},
        {"# only a comment\n", "no header row (the file is empty)"},
        {"T,fs\n", "a header but no rows"},
        {"fs\n0.5\n", "line 1: no temperature column"},
        {"T,colour\n1,2\n", "line 1, column 2: unknown column 'colour' (a nodal field"},
        // A slip of the keyboard is named with the column meant.
        {"tempreature\n1\n", "line 1, column 1: unknown column 'tempreature' (did you mean "
                             "'temperature'?)"},
        {"T,FS 1\n1,0\n", "line 1, column 2: unknown column 'FS 1' (did you mean 'fs1'?)"},
        {"T,grain_size\n1,2\n", "(did you mean 'grain size'?)"},
        {"T,fs2\n1,0\n", "(did you mean 'fs1'?)"},
        // ';' between the cells when the header has one; each row alike.
        {"T;fs\n900,0.5\n", "line 2: 1 values for 2 columns (the header separates its "
                            "columns with ';', and so must each row)"},
        {"T,fs\n900;0,5\n", "line 2, column 1 (t1): not a finite number: '900;0' (the header "
                            "separates its columns with ',', and so must each row)"},
        {"T;fs\n900;0,5,1\n", "line 2, column 2 (fs1): not a finite number: '0,5,1'"},
        {"T;fs;\n900;0;\n", "line 1, column 3: unknown column ''"},
        {"T;fs\n1.900,5;0\n", "line 2, column 1 (t1): not a finite number: '1.900,5'"},
        {"T,fs,FS1\n1,2,3\n", "line 1, column 3: a second column fs1"},
        {"T [kelvins]\n1\n", "line 1, column 1: unknown temperature unit 'kelvins'"},
        {"T,p1 [Pa]\n1,2\n", "line 1, column 2: a unit is read only for temperatures"},
        {"T,fs\n900,abc\n", "line 2, column 2 (fs1): not a finite number: 'abc'"},
        {"T,fs\n900,nan\n", "line 2, column 2 (fs1): not a finite number: 'nan'"},
        {"T,fs\n900,inf\n", "line 2, column 2 (fs1): not a finite number: 'inf'"},
        {"T,fs\n900,1e999\n", "line 2, column 2 (fs1): not a finite number"},
        {"T,fs\n900,\n", "line 2, column 2 (fs1): not a finite number: ''"},
        {"T,fs\n900,0,1\n", "line 2: 3 values for 2 columns"},
        {"T,fs\n900\n", "line 2: 1 values for 2 columns"},
        {"T\n-5\n", "line 2, column 1 (t1): below absolute zero"},
        {"T\n0\n", "line 2, column 1 (t1): below absolute zero: '0'"},
        {"T\n900\n880\n890\n", "line 4: the temperature rises"},
        {"T\n800\n820\n810\n", "line 4: the temperature falls"},
        {"T\n900\n900\n", "line 3: the temperature repeats the previous row's"},
        {huge, "line 2: longer than 65536 bytes"},
        {"T,fs\n900,\x01\xff\n", "not a finite number: '\\x01\\xff'"},
        // What the host's fields cannot hold: a 32-bit float, a solid
        // fraction from 0 to 1; a NUL in a cell is no end of its number.
        {"T,jctn1\n900,1e308\n", "line 2, column 2 (jctn1): beyond what the host's field"},
        {"T\n1e39\n", "line 2, column 1 (t1): beyond what the host's field"},
        {"T,fs\n900,1.5\n", "line 2, column 2 (fs1): a solid fraction outside 0 to 1: '1.5'"},
        {"T,fs\n900,-0.5\n", "line 2, column 2 (fs1): a solid fraction outside 0 to 1"},
        {std::string("T,fs\n900,0.5\0"
                     "7\n",
                     16),
         "line 2, column 2 (fs1): not a finite number: '0.5\\x007'"},
    };
    for (const Case &c : cases) {
        Path p;
        std::string error;
        EXPECT_FALSE(readTable(c.text, p, error)) << c.error;
        EXPECT_NE(error.find(c.error), std::string::npos) << error << "\nwanted: " << c.error;
        EXPECT_EQ(error.find('\n'), std::string::npos) << error;
    }
}

// A table with ';' between its cells, as spreadsheets write one in locales
// whose decimal mark is a comma, reads as the same table with commas.
TEST(CurvePath, SemicolonTablesTakeACommaAsTheDecimalMark) {
    const std::string plain = "T [K],fs,jctn1\n900.5,0,2.5\n880,0.25,1e-1\n";
    Path want, p;
    std::string error;
    ASSERT_TRUE(readTable(plain, want, error)) << error;
    for (const char *text :
         {"T [K];fs;jctn1\n900,5;0;2,5\n880;0,25;1e-1\n",
          "# semicolons\nT [K] ; fs ; jctn1\r\n900.5 ; 0 ; 2.5\r\n880;0,25;1E-1\r\n"}) {
        ASSERT_TRUE(readTable(text, p, error)) << text << ": " << error;
        for (size_t c : {column::t1, column::fs1, column::jctn1})
            EXPECT_EQ(p.values[c], want.values[c]) << text << vhost::columnName(c);
    }
}

// A byte-order mark before the header, as spreadsheets write one, is skipped.
TEST(CurvePath, AByteOrderMarkIsSkipped) {
    Path p;
    std::string error;
    ASSERT_TRUE(readTable("\xef\xbb\xbfT,fs\n900,0.5\n", p, error)) << error;
    EXPECT_EQ(p.at(column::fs1, 0), 0.5);
}

// ---- the sample's grid holding a path, and the calls along it ------------------

TEST(CurvePath, MechanicalEntryPointsReadThePointsThroughRegistration) {
    // Each point's microstructure as the table gives it; cycle.c's
    // yieldstress reads two constituents, an auxiliary variable and the
    // porosity, in local mode after its registration call.
    Path p;
    std::string error;
    std::string table = "T,alpha-Al,Mg2Si,grain size,vf_s1\n";
    for (int i = 0; i < 70; ++i) // more points than a 4^3 grid: a 5^3 one
        table += std::to_string(900 - i) + "," + std::to_string(0.01 * i) + "," +
                 std::to_string(0.001 * i) + "," + std::to_string(10 + i) + "," +
                 std::to_string(1e-4 * i) + "\n";
    std::vector<bool> given;
    ASSERT_TRUE(vhost::readPathTable(table, 1, kelvin, p, given, error)) << error;
    given[column::fs1] = true;
    p.values[column::fs1].assign(p.points(), 0.5);
    vhost::completePath(p, given, 1.0, vhost::Alloy{});
    vhost::Sample s(vhost::pathSide(p.points()), 1, vhost::Sample::Build::Whole, &p);
    ASSERT_EQ(s.nodesPerSide, 5);
    vhost::Library lib;
    ASSERT_TRUE(lib.open(HOSTLIB_CYCLE, error)) << error;
    vhost::SampleConfig o;
    o.pathPoints = static_cast<int>(p.points());
    vhost::Caller caller(lib, s, o);
    caller.beginStep(1);
    const std::vector<uint8_t> selected = vhost::selectedNodes(s, o);
    struct Case {
        const char *entry;
        double (*expected)(const Path &, size_t);
    } cases[] = {
        {"density", [](const Path &q, size_t i) { return q.at(column::kConstituents + 2, i); }},
        {"yieldstress",
         [](const Path &q, size_t i) {
             return 1000.0 * q.at(column::kConstituents + 2, i) + q.at(column::kConstituents, i) +
                    0.001 * q.at(column::kAuxiliaries + 1, i) +
                    1e6 * double(float(q.at(column::vf_s1, i)));
         }},
    };
    for (const Case &c : cases) {
        std::vector<double> out(static_cast<size_t>(s.nnod), -1.0);
        caller.evaluate(*vhost::findEntryPoint(c.entry), lib.entry(c.entry), out.data(), selected);
        for (size_t i = 0; i < p.points(); ++i)
            EXPECT_DOUBLE_EQ(out[i], c.expected(p, i)) << c.entry << " point " << i;
        for (size_t i = p.points(); i < out.size(); ++i)
            EXPECT_EQ(out[i], -1.0) << c.entry << ": node " << i + 1 << " is beyond the path";
    }
}

// The coordinates a table or --set gives are those of the path's nodes;
// the others keep the grid's, and the nodes beyond the path theirs.
TEST(CurvePath, CoordinatesComeFromTheTableOrSetOrTheGrid) {
    Folder f("coordinates");
    const std::string table = f.write("xyz.csv", "T,x_cord,Z_CORD\n900,1.5,-2\n880,2.5,-3\n"
                                                 "860,3.5,-4\n")
                                  .string();
    const double h = vhost::Alloy::side / 3; // a 4^3 grid
    const struct {
        const char *what;
        std::string table;
        std::vector<std::pair<std::string, double>> sets;
        double xyz[3][3]; // [point][axis]
    } cases[] = {
        {"the grid's", "", {}, {{0, 0, 0}, {h, 0, 0}, {2 * h, 0, 0}}},
        {"a table's, y the grid's", table, {}, {{1.5, 0, -2}, {2.5, 0, -3}, {3.5, 0, -4}}},
        {"--set over a table's", table, {{"x_cord", 7}}, {{7, 0, -2}, {7, 0, -3}, {7, 0, -4}}},
        {"--set y", "", {{"y_cord", 0.25}}, {{0, 0.25, 0}, {h, 0.25, 0}, {2 * h, 0.25, 0}}},
    };
    for (const auto &c : cases) {
        CurveSettings o;
        o.table = c.table;
        o.points = 3;
        o.sets = c.sets;
        const Path p = built(o);
        ASSERT_EQ(p.points(), 3u) << c.what;
        vhost::Sample s(vhost::pathSide(p.points()), 1, vhost::Sample::Build::Whole, &p);
        const vhost::PageVector<double> *axes[] = {&s.x, &s.y, &s.z};
        for (size_t i = 0; i < 3; ++i)
            for (size_t a = 0; a < 3; ++a) {
                EXPECT_EQ(p.at(column::kCoordinates + a, i), c.xyz[i][a]) << c.what;
                EXPECT_EQ((*axes[a])[i], c.xyz[i][a]) << c.what << ": node " << i + 1;
            }
        EXPECT_EQ(s.x[3], 3 * h) << c.what << ": the fourth node is the grid's";
        EXPECT_EQ(s.z[63], 3 * h) << c.what << ": the last node is the grid's";
    }
}

// ---- what changes abruptly along a path ------------------------------------------

TEST(CurveSmoothness, FindingsAreAtTheRightPoint) {
    using R = vhost::Roughness;
    std::vector<double> x(101);
    for (size_t i = 0; i < x.size(); ++i)
        x[i] = 900.0 - double(i);
    auto along = [&](double (*f)(double)) {
        std::vector<double> y;
        for (double t : x)
            y.push_back(f(t));
        return y;
    };
    struct Case {
        const char *what;
        std::vector<double> y;
        bool positive;
        std::vector<R> want;
    } cases[] = {
        {"smooth", along([](double t) { return 1e9 - 1e6 * t + 300 * t * t; }), true, {}},
        {"kink at 850",
         along([](double t) { return t > 850 ? 1e6 : 1e6 + 1e4 * (850 - t); }),
         true,
         {{R::Kink, 50}}},
        {"jump at 830",
         along([](double t) { return (t > 830.5 ? 2.0 : 3.0) + 0.001 * t; }),
         true,
         {{R::Jump, 70}}},
        {"sign change at 860",
         along([](double t) { return t - 860.0; }),
         true,
         {{R::SignChange, 40}}},
        {"sign allowed", along([](double t) { return t - 860.0; }), false, {}},
        // A steep ramp between two plateaus (the lever rule over a narrow
        // range) bends where it starts and ends, and jumps nowhere.
        {"a steep ramp from 880 to 875",
         along([](double t) { return t >= 880   ? 1.0
                                     : t <= 875 ? 2.0
                                                : 1.0 + (880 - t) / 5; }),
         true,
         {{R::Kink, 20}, {R::Kink, 25}}},
        {"non-finite at 880",
         along([](double t) { return t == 880 ? std::nan("") : 5.0 + 0.01 * t; }),
         false,
         {{R::NonFinite, 20}}},
    };
    for (const Case &c : cases) {
        const std::vector<R> found = vhost::roughness(x, c.y, c.positive);
        ASSERT_EQ(found.size(), c.want.size()) << c.what;
        for (size_t k = 0; k < found.size(); ++k) {
            EXPECT_EQ(found[k].kind, c.want[k].kind) << c.what;
            EXPECT_EQ(x[found[k].point], x[c.want[k].point]) << c.what;
        }
    }
}

// ---- the command -------------------------------------------------------------------

TEST(CurveCommand, WritesTheCsvAndPlotsWithUnits) {
    Folder f("run");
    const std::string out = (f.dir / "out").string();
    vtest::HostResult r = vtest::runHost(
        VULMORA_HOST_EXE,
        "curve --functions yieldstress,density --temp C --points 50 --output '" + out + "'");
    ASSERT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_NE(r.out.find("path: 50 points, 700 to 20 \xc2\xb0"
                         "C"),
              std::string::npos)
        << r.out;
    const std::vector<std::string> csv = lines(vtest::slurp(f.dir / "out" / "curve.csv"));
    ASSERT_EQ(csv.size(), 51u);
    EXPECT_EQ(csv[0], "temperature [\xc2\xb0"
                      "C],fs,yieldstress [dyn/cm\xc2\xb2],density [g/cm\xc2\xb3]");
    EXPECT_EQ(csv[1].rfind("700,0,", 0), 0u) << csv[1];
    for (const char *svg : {"yieldstress.svg", "density.svg"}) {
        const fs::path file = f.dir / "out" / svg;
        const std::string text = vtest::slurp(file);
        for (const char *label : {"temperature [\xc2\xb0"
                                  "C]",
                                  "solid fraction fs [-]", "liquidus", "solidus", "d "})
            EXPECT_NE(text.find(label), std::string::npos) << svg << ": " << label;
        EXPECT_EQ(text.find("<use"), std::string::npos) << svg;
        const std::string check = "python3 -c 'import sys, xml.dom.minidom; "
                                  "xml.dom.minidom.parse(sys.argv[1])' '" +
                                  file.string() + "' 2>/dev/null";
        if (std::system("python3 -c '' 2>/dev/null") == 0) {
            EXPECT_EQ(std::system(check.c_str()), 0) << svg << " is not well-formed XML";
        }
    }
}

TEST(CurveCommand, SinglePointPrintsEachValueAndStrictFailsOnFindings) {
    vtest::HostResult r = vtest::runHost(
        VULMORA_HOST_EXE, "curve --functions density,yieldstress --at T=650,fs=0.3 --temp C -q");
    ASSERT_EQ(r.status, 0) << r.out << r.err;
    const std::vector<std::string> out = lines(r.out);
    ASSERT_GE(out.size(), 2u);
    EXPECT_EQ(out[0].rfind("func_density = ", 0), 0u) << r.out;
    EXPECT_NE(out[0].find(" g/cm\xc2\xb3"), std::string::npos) << r.out;
    EXPECT_EQ(out[1].rfind("func_yieldstress = ", 0), 0u) << r.out;
}

// Kinks where the path's solid fraction kinks (liquidus, solidus, the
// eutectic's start and hold) and where the user expects them pass
// --strict; a jump anywhere else, or an unexpected kink, fails it.
TEST(CurveCommand, StrictExpectsTheAlloysKinksAndNoOthers) {
    const std::string examples = "curve --strict --no-output -q --temp C ";
    const std::string mixed = examples + "--library '" + HOSTLIB_MIXED + "' ";
    const std::string eutectic = " --alloy liquidus=615,solidus=555,eutectic=577,end=20";
    const struct {
        std::string args;
        int status;
        const char *finding; // in the output when it fails
    } cases[] = {
        {examples + "--expect-kink fs=0.3", 0, ""}, // the heat transfer's coherency point
        {examples + "--functions interhtransfer", 1, "func_interhtransfer along the path: a kink"},
        {examples + "--expect-kink 598.5 --functions interhtransfer", 0, ""},
        {mixed + "--functions density", 0, ""},
        {mixed + "--functions density --fs scheil", 0, ""},
        {mixed + "--functions density" + eutectic, 0, ""},
        {mixed + "--functions density --fs scheil" + eutectic, 0, ""},
        {mixed + "--functions emissivity", 1, "func_emissivity along the path: a jump at 39"},
        {mixed + "--functions emissivity --expect-kink 400", 1, "a jump at 39"},
    };
    for (const auto &c : cases) {
        const vtest::HostResult r = vtest::runHost(VULMORA_HOST_EXE, c.args);
        EXPECT_EQ(r.status, c.status) << c.args << "\n" << r.out << r.err;
        EXPECT_NE(r.out.find(c.finding), std::string::npos) << c.args << "\n" << r.out;
    }
}

TEST(CurveCommand, BadTableIsOneLineNamingFileLineAndColumn) {
    Folder f("bad");
    const fs::path table = f.write("scheil.csv", "T [K],fs\n900,0\n880,zero\n");
    vtest::HostResult r =
        vtest::runHost(VULMORA_HOST_EXE, "curve --table '" + table.string() + "' --no-output");
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "vulmora-host: --table " + table.string() +
                         ": line 3, column 2 (fs1): not a finite number: 'zero'\n");
    for (const std::string &missing : {(f.dir / "none.csv").string(), f.dir.string()}) {
        r = vtest::runHost(VULMORA_HOST_EXE, "curve --table '" + missing + "' --no-output");
        EXPECT_EQ(r.status, 2) << missing;
        EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
    }
}

// A point the host's fields cannot hold is refused before any worker
// starts, in one line naming the option.
TEST(CurveCommand, ValuesTheFieldsCannotHoldAreRefusedByName) {
    const struct {
        const char *args, *error;
    } cases[] = {
        {"--at T=-300 --temp C", "--at t1=-300: below absolute zero"},
        {"--at T=650,fs=1.5", "--at fs1=1.5: a solid fraction outside 0 to 1"},
        {"--at T=650,T=700", "--at: t1 given twice ('T=700')"},
        {"--set jctn1=1e39",
         "--set jctn1=1e+39: beyond what the host's field (a 32-bit float) holds"},
        {"--set t1=-1", "--set t1=-1: below absolute zero"},
        {"--set fs=0.2 --set fs1=0.3", "--set: fs1 given twice ('fs1=0.3')"},
    };
    for (const auto &c : cases) {
        const vtest::HostResult r =
            vtest::runHost(VULMORA_HOST_EXE, std::string("curve --no-output ") + c.args);
        EXPECT_EQ(r.status, 2) << c.args;
        EXPECT_EQ(r.err, "vulmora-host: " + std::string(c.error) + "\n") << c.args;
    }
}

// An entry point that reads coordinates a path does not set is named in
// a note: its values depend on where the grid put the points. points.c's
// heatflux reads the three arrays directly, known.c's emissivity getX.
TEST(CurveCommand, ReadingCoordinatesThePathLeavesToTheGridIsNoted) {
    Folder f("reads");
    const std::string table =
        f.write("xyz.csv", "T [K],x_cord,y_cord,z_cord\n900,1,2,3\n800,1,2,4\n").string();
    const std::string points = std::string("--library '") + HOSTLIB_POINTS + "' ";
    const std::string known = std::string("--library '") + HOSTLIB_KNOWN + "' ";
    const std::string grid = ", which this path does not set: its points lie on the sample's grid";
    const struct {
        std::string args, out; // `out` in the output, a note or a value
        bool noted;
    } cases[] = {
        {points + "--functions heatflux --points 5",
         "func_heatflux reads x_cord, y_cord and z_cord" + grid, true},
        {points + "--functions heatflux --points 5 --set z_cord=2 --set x_cord=1",
         "func_heatflux reads y_cord" + grid, true},
        {points + "--functions heatflux --points 5 --set x_cord=1 --set y_cord=2 --set z_cord=3",
         "", false},
        {points + "--functions heatflux --table '" + table + "'", "", false},
        {known + "--functions emissivity,density --points 3", "func_emissivity reads x_cord" + grid,
         true},
        {known + "--functions emissivity --points 3 --set x_cord=0.25", "", false},
        {known + "--functions emissivity --at T=700,x_cord=0.5", "func_emissivity = 0.5", false},
    };
    for (const auto &c : cases) {
        const vtest::HostResult r =
            vtest::runHost(VULMORA_HOST_EXE, "curve --no-output -q " + c.args);
        EXPECT_EQ(r.status, 0) << c.args << "\n" << r.out << r.err;
        EXPECT_NE(r.out.find(c.out + "\n"), std::string::npos) << c.args << "\n" << r.out;
        size_t notes = 0;
        for (size_t at = 0; (at = r.out.find(grid, at)) != r.out.npos; ++at)
            ++notes;
        EXPECT_EQ(notes, c.noted ? 1u : 0u) << c.args << "\n" << r.out;
    }
    // The table's path says what it left out, and from which alloy.
    const vtest::HostResult r = vtest::runHost(VULMORA_HOST_EXE, "curve --no-output " + known +
                                                                     "--functions density "
                                                                     "--table '" +
                                                                     table + "'");
    EXPECT_NE(r.out.find("path: 2 points, 900 to 800 K\nnote: fs by the alloy's lever rule "
                         "(liquidus 888 K, solidus 833 K); t0, fs0 from the previous row"),
              std::string::npos)
        << r.out;
}

TEST(CurveCommand, AFaultIsReportedWithACommandThatCallsItsPointAgain) {
    vtest::HostResult r = vtest::runHost(
        VULMORA_HOST_EXE, std::string("curve --temp C --fs scheil --set jctn1=3 --library '") +
                              HOSTLIB_FAULTY + "' --functions density --no-output");
    EXPECT_EQ(r.status, 1) << r.out;
    // The bench is named by its path: PATH does not find it here.
    const std::string tag = "re-run that call: '" VULMORA_HOST_EXE "' ";
    const size_t at = r.out.find(tag);
    ASSERT_NE(at, std::string::npos) << r.out;
    const std::string args = r.out.substr(at + tag.size(), r.out.find('\n', at) - at - tag.size());
    EXPECT_NE(args.find("'curve' '--unit' 'temp=2' '--fs' 'scheil' '--set' 'jctn1=3'"),
              std::string::npos)
        << args;
    // The point the run names, made again and called in this process.
    const std::string node = r.out.substr(r.out.find(", node ", 0) + 7, 3);
    vtest::HostResult again = vtest::runHost(VULMORA_HOST_EXE, args);
    EXPECT_NE(again.out.find("node " + std::to_string(std::stoi(node)) + " of step 1"),
              std::string::npos)
        << again.out;
    // The fifth of 200 points from the pour (973 K) to the end (293 K).
    EXPECT_NE(again.out.find("t1 = 959.332 K"), std::string::npos) << again.out;
}

// --expect on a path names the first value outside by its point's
// temperature, in the user's unit, as the path's other findings do.
TEST(CurveCommand, ExpectFindingsNameThePointsTemperature) {
    const vtest::HostResult r =
        vtest::runHost(VULMORA_HOST_EXE, "curve --functions density --from 900 --to 300 --temp C "
                                         "--expect density=2.6:2.7 --no-output -q");
    EXPECT_EQ(r.status, 1) << r.out << r.err;
    EXPECT_NE(r.out.find("outside the expected range 2.6 to 2.7; the first at 900 \xc2\xb0"
                         "C (point 1): "),
              std::string::npos)
        << r.out;
}
