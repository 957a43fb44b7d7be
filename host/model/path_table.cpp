// path_table.cpp - the columns of a path by name, and the reader of path
// tables and their files: untrusted text, every cell checked before use.
#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <iterator>

#include "model/path.h"
#include "platform/files.h"

namespace vhost {

namespace {

// The exchange variables of the nodal fields, in the columns' order.
#define VHOST_PATH_NAME(variable, member, type, extent, vtu) #variable,
constexpr const char *kFieldNames[] = {VHOST_FIELD_ARRAYS(VHOST_PATH_NAME, VHOST_ARRAY_NONE)};
#undef VHOST_PATH_NAME
static_assert(std::size(kFieldNames) == column::kConstituents);

// `s` in lower case, for names compared without regard to case.
std::string lower(std::string_view s) {
    std::string out(s);
    for (char &c : out)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return out;
}

// `s` without the blanks around it.
std::string_view trimmed(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t'))
        s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r'))
        s.remove_suffix(1);
    return s;
}

// A cell as a message shows it: quoted, at most 40 bytes, every byte that
// is not printable ASCII as \xNN.
std::string shown(std::string_view s) {
    std::string out = "'";
    for (size_t i = 0; i < s.size() && i < 40; ++i) {
        const unsigned char c = static_cast<unsigned char>(s[i]);
        char hex[8];
        std::snprintf(hex, sizeof hex, "\\x%02x", c);
        out += c >= 0x20 && c < 0x7f && c != '\\' ? std::string(1, char(c)) : std::string(hex);
    }
    return out + (s.size() > 40 ? "...'" : "'");
}

// The cells of one line, split at `separator`.
std::vector<std::string_view> cells(std::string_view line, char separator) {
    std::vector<std::string_view> out;
    for (size_t start = 0;;) {
        const size_t at = line.find(separator, start);
        out.push_back(trimmed(line.substr(start, at == line.npos ? line.npos : at - start)));
        if (at == line.npos) return out;
        start = at + 1;
    }
}

// The edit distance between `a` and `b` (insertions, deletions and
// substitutions of a byte), both taken in lower case.
size_t editDistance(std::string_view a, std::string_view b) {
    const std::string x = lower(a), y = lower(b);
    std::vector<size_t> row(y.size() + 1);
    for (size_t j = 0; j <= y.size(); ++j)
        row[j] = j;
    for (size_t i = 1; i <= x.size(); ++i) {
        size_t diagonal = row[0];
        row[0] = i;
        for (size_t j = 1; j <= y.size(); ++j) {
            const size_t above = row[j];
            row[j] = std::min({row[j] + 1, row[j - 1] + 1, diagonal + (x[i - 1] != y[j - 1])});
            diagonal = above;
        }
    }
    return row[y.size()];
}

// The selector of a temperature unit's name; 0 when it is none.
int temperatureUnit(std::string_view unit) {
    const std::string u = lower(unit);
    if (u == "k") return 1;
    if (u == "c" ||
        u == "\xc2\xb0"
             "c" ||
        u == "degc")
        return 2;
    if (u == "f" ||
        u == "\xc2\xb0"
             "f" ||
        u == "degf")
        return 3;
    if (u == "r" ||
        u == "\xc2\xb0"
             "r" ||
        u == "degr")
        return 4;
    return 0;
}

// A table's columns: the path column and, for a temperature, its unit;
// the separator of its cells, and the decimal mark of its numbers.
struct Header {
    std::vector<size_t> column;
    std::vector<int> unit;
    char separator = ',';
};

// "line L, column C (NAME): " for the messages.
std::string where(size_t line, size_t col, const std::string &name) {
    return "line " + std::to_string(line) + ", column " + std::to_string(col) +
           (name.empty() ? "" : " (" + name + ")") + ": ";
}

// The header row: known, distinct columns, a temperature among them.
bool readHeader(std::string_view line, size_t number, int userTemp, Header &h,
                std::vector<bool> &given, std::string &error) {
    // Spreadsheets set to a locale whose decimal mark is a comma separate
    // their cells with ';': a header with one says which the table uses.
    h.separator = line.find(';') != line.npos ? ';' : ',';
    const std::vector<std::string_view> names = cells(line, h.separator);
    for (size_t k = 0; k < names.size(); ++k) {
        std::string_view name = names[k], unit;
        const size_t open = name.find('[');
        if (open != name.npos && name.back() == ']') {
            unit = trimmed(name.substr(open + 1, name.size() - open - 2));
            name = trimmed(name.substr(0, open));
        }
        const size_t c = findColumn(std::string(name));
        const std::string at = where(number, k + 1, "");
        if (c == column::kCount) {
            const std::string near = nearestColumnName(std::string(name));
            return error = at + "unknown column " + shown(names[k]) +
                           (near.empty() ? " (a nodal field of the exchange block, a constituent "
                                           "or an auxiliary variable)"
                                         : " (did you mean '" + near + "'?)"),
                   false;
        }
        if (given[c]) return error = at + "a second column " + columnName(c), false;
        int sel = isTemperatureColumn(c) ? (unit.empty() ? userTemp : temperatureUnit(unit)) : 0;
        if (isTemperatureColumn(c) && !sel)
            return error = at + "unknown temperature unit " + shown(unit) + " (K, °C, °F or R)",
                   false;
        if (!isTemperatureColumn(c) && !unit.empty() && unit != "-" && unit != "1")
            return error = at + "a unit is read only for temperatures; " + columnName(c) +
                           " is in the host's units",
                   false;
        given[c] = true;
        h.column.push_back(c);
        h.unit.push_back(sel);
    }
    if (!given[column::t1])
        return error = "line " + std::to_string(number) + ": no temperature column", false;
    return true;
}

// One row of numbers into the path.
bool readRow(std::string_view line, size_t number, const Header &h, const KelvinFn &toKelvin,
             Path &p, std::string &error) {
    const std::vector<std::string_view> row = cells(line, h.separator);
    const bool semicolons = h.separator == ';';
    if (row.size() != h.column.size())
        return error = "line " + std::to_string(number) + ": " + std::to_string(row.size()) +
                       " values for " + std::to_string(h.column.size()) + " columns" +
                       (semicolons && line.find(',') != line.npos
                            ? " (the header separates its columns with ';', and so must each row)"
                            : ""),
               false;
    for (size_t k = 0; k < row.size(); ++k) {
        // With ';' between the cells a comma is the decimal mark.
        std::string cell(row[k]);
        if (semicolons) std::replace(cell.begin(), cell.end(), ',', '.');
        char *end = nullptr;
        errno = 0;
        double v = cell.empty() ? NAN : std::strtod(cell.c_str(), &end);
        const std::string at = where(number, k + 1, columnName(h.column[k]));
        if (cell.empty() || *end || end != cell.c_str() + cell.size() || errno == ERANGE ||
            !std::isfinite(v))
            return error = at + "not a finite number: " + shown(row[k]) +
                           (!semicolons && row[k].find(';') != row[k].npos
                                ? " (the header separates its columns with ',', and so must "
                                  "each row)"
                                : ""),
                   false;
        if (h.unit[k]) v = toKelvin(h.unit[k], v);
        if (const std::string why = pathValueProblem(h.column[k], v); !why.empty())
            return error = at + why + ": " + shown(row[k]), false;
        p.values[h.column[k]].push_back(v);
    }
    return true;
}

// The temperatures strictly falling or strictly rising.
bool checkOrder(const Path &p, const std::vector<size_t> &lines, std::string &error) {
    const std::vector<double> &T = p.values[column::t1];
    for (size_t i = 1; i < T.size(); ++i) {
        const bool falling = T[1] < T[0];
        if (falling ? T[i] < T[i - 1] : T[i] > T[i - 1]) continue;
        return error = "line " + std::to_string(lines[i]) + ": the temperature " +
                       (T[i] == T[i - 1] ? "repeats the previous row's"
                        : falling        ? "rises"
                                         : "falls") +
                       " (temperatures must fall, or rise, strictly)",
               false;
    }
    return true;
}

} // namespace

std::string columnName(size_t c) {
    if (c < column::kConstituents) return kFieldNames[c];
    if (c < column::kAuxiliaries) return kConstituents[c - column::kConstituents];
    if (c < column::kCoordinates) return kAuxiliaries[c - column::kAuxiliaries];
    constexpr const char *coordinates[] = {"x_cord", "y_cord", "z_cord"};
    return coordinates[c - column::kCoordinates];
}

size_t findColumn(const std::string &name) {
    const std::string n = lower(name);
    if (n == "temperature" || n == "t") return column::t1;
    if (n == "fs" || n == "solid fraction") return column::fs1;
    for (size_t c = 0; c < column::kCount; ++c)
        if (n == lower(columnName(c))) return c;
    return column::kCount;
}

std::string nearestColumnName(const std::string &name) {
    std::string best;
    size_t bestDistance = std::max<size_t>(1, name.size() / 3) + 1;
    auto consider = [&](const std::string &known) {
        const size_t d = editDistance(name, known);
        if (d < bestDistance) best = known, bestDistance = d;
    };
    for (const char *alias : {"temperature", "solid fraction"})
        consider(alias);
    for (size_t c = 0; c < column::kCount; ++c)
        consider(columnName(c));
    return best;
}

const char *temperatureUnitName(int sel) {
    constexpr const char *names[] = {"?", "K",
                                     "\xc2\xb0"
                                     "C",
                                     "\xc2\xb0"
                                     "F",
                                     "\xc2\xb0"
                                     "R"};
    return names[sel >= 1 && sel <= 4 ? sel : 0];
}

bool isTemperatureColumn(size_t c) {
    return c == column::t1 || c == column::t0;
}

std::string pathValueProblem(size_t c, double v) {
    if (!std::isfinite(v)) return "not a finite number";
    if (c < column::kConstituents && !std::isfinite(static_cast<float>(v)))
        return "beyond what the host's field (a 32-bit float) holds";
    if (isTemperatureColumn(c) && !(v > 0)) return "below absolute zero";
    if ((c == column::fs1 || c == column::fs0) && !(v >= 0 && v <= 1))
        return "a solid fraction outside 0 to 1";
    return "";
}

bool readPathTable(std::string_view text, int userTemp, const KelvinFn &toKelvin, Path &p,
                   std::vector<bool> &given, std::string &error) {
    p = Path{};
    // A byte-order mark, as spreadsheets write one before the header.
    if (text.substr(0, 3) == "\xef\xbb\xbf") text.remove_prefix(3);
    given.assign(column::kCount, false);
    Header h;
    std::vector<size_t> lines; // each point's line
    size_t number = 0;
    for (size_t start = 0; start < text.size();) {
        size_t end = text.find('\n', start);
        if (end == text.npos) end = text.size();
        const size_t length = end - start;
        const std::string_view line = trimmed(text.substr(start, length));
        start = end + 1;
        ++number;
        if (length > kMaxTableLine)
            return error = "line " + std::to_string(number) + ": longer than " +
                           std::to_string(kMaxTableLine) + " bytes",
                   false;
        if (line.empty() || line.front() == '#') continue;
        if (h.column.empty()) {
            if (!readHeader(line, number, userTemp, h, given, error)) return false;
            continue;
        }
        if (lines.size() == kMaxPathPoints)
            return error = "line " + std::to_string(number) + ": more than " +
                           std::to_string(kMaxPathPoints) + " rows",
                   false;
        if (!readRow(line, number, h, toKelvin, p, error)) return false;
        lines.push_back(number);
    }
    if (h.column.empty()) return error = "no header row (the file is empty)", false;
    if (lines.empty()) return error = "a header but no rows", false;
    return checkOrder(p, lines, error);
}

namespace {
constexpr size_t kMaxTableBytes = size_t(64) << 20;
} // namespace

bool loadPathTable(const std::string &file, int userTemp, const KelvinFn &toKelvin, Path &p,
                   std::vector<bool> &given, std::string &error) {
    const std::string name = "--table " + file + ": ";
    switch (platform::pathKind(file)) {
    case platform::PathKind::Missing:
        return error = name + "no such file", false;
    case platform::PathKind::Other:
        return error = name + "not a regular file", false;
    case platform::PathKind::Regular:
        break;
    }
    std::string text;
    if (!platform::readPrefix(file, kMaxTableBytes + 1, text))
        return error = name + "cannot be read", false;
    if (text.size() > kMaxTableBytes) return error = name + "larger than 64 MB", false;
    if (!readPathTable(text, userTemp, toKelvin, p, given, error))
        return error = name + error, false;
    return true;
}

} // namespace vhost
