// csv.cpp - the CSV writer.
#include "output/csv.h"

#include <charconv>
#include <string>

#include "include/vulmora/getVar.h"
#include "model/path.h"
#include "model/sample.h"
#include "model/units.h"
#include "output/labels.h"
#include "output/outdir.h"

namespace vhost {

namespace {

// True when the user's unit of quantity `code` is the host's.
bool unconverted(const UnitConverter &units, int code) {
    return units.toUser(code, 0.0) == 0.0 && units.toUser(code, 1.0) == 1.0;
}

} // namespace

std::string csvHeader(const std::string &valueLabel, const UnitConverter &units) {
    const std::string length = userUnitName(VULMORA_QTY_LENGTH, units.units());
    return "step,node,material," + withUnit("x", length) + "," + withUnit("y", length) + "," +
           withUnit("z", length) + "," +
           withUnit("temperature", temperatureUnitName(units.units().temp)) + ",fs," + valueLabel +
           "\n";
}

void writeCsvRows(CheckedFile &f, const Sample &s, int step, const double *v,
                  const std::vector<uint8_t> &nodeMaterial, const UnitConverter &units) {
    const bool sameLength = unconverted(units, VULMORA_QTY_LENGTH),
               sameT = unconverted(units, VULMORA_QTY_TEMPERATURE);
    std::string out;
    char row[512];
    char *p = row;
    // A number and the separator after it (one byte is always kept for it).
    auto put = [&](auto x, char after) {
        p = std::to_chars(p, row + sizeof row - 1, x).ptr;
        *p++ = after;
    };
    for (size_t i = 0, n = static_cast<size_t>(s.nnod); i < n && f.ok(); ++i) {
        if (!nodeMaterial[i]) continue;
        p = row;
        put(step, ',');
        put(i + 1, ',');
        put(int(nodeMaterial[i]), ',');
        for (auto c : {s.x[i], s.y[i], s.z[i]}) {
            if (sameLength)
                put(c, ',');
            else
                put(units.toUser(VULMORA_QTY_LENGTH, double(c)), ',');
        }
        if (sameT)
            put(s.t1[i], ',');
        else
            put(units.toUser(VULMORA_QTY_TEMPERATURE, double(s.t1[i])), ',');
        put(s.fs1[i], ',');
        put(v[i], '\n');
        out.append(row, p);
        if (out.size() >= 1 << 16) {
            f.write(out.data(), out.size());
            out.clear();
        }
    }
    f.write(out.data(), out.size());
}

std::string columnsCsvText(const std::vector<std::string> &names,
                           const std::vector<std::vector<double>> &columns) {
    std::string out;
    for (size_t c = 0; c < names.size(); ++c)
        out += (c ? "," : "") + names[c];
    out += '\n';
    const size_t rows = columns.empty() ? 0 : columns.front().size();
    char cell[64];
    for (size_t i = 0; i < rows; ++i)
        for (size_t c = 0; c < columns.size(); ++c) {
            char *end = std::to_chars(cell, cell + sizeof cell, columns[c][i]).ptr;
            out.append(cell, end);
            out += c + 1 < columns.size() ? ',' : '\n';
        }
    return out;
}

} // namespace vhost
