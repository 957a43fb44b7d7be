// vtu.cpp - the VTU writer.
#include "output/vtu.h"

#include <algorithm>
#include <cstring>
#include <limits>

#include "output/outdir.h"
#include "output/report.h"
#include "model/sample.h"

namespace vhost {

namespace {

constexpr char kDigits[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

} // namespace

// Raw bytes gather in raw_; whole groups of three are encoded together.
void VtuWriter::put(const unsigned char *p, size_t n) {
    while (n > 0) {
        const size_t take = std::min(n, sizeof raw_ - nraw_);
        std::memcpy(raw_ + nraw_, p, take);
        nraw_ += take, p += take, n -= take;
        if (nraw_ == sizeof raw_) encode(false);
    }
}

// Encode what raw_ holds (all of it with `last`, padded; else its whole
// groups of three, the rest kept) and write it.
void VtuWriter::encode(bool last) {
    const size_t whole = nraw_ / 3 * 3;
    char *out = text_;
    for (size_t i = 0; i < whole; i += 3) {
        const uint32_t v = uint32_t(raw_[i]) << 16 | uint32_t(raw_[i + 1]) << 8 | raw_[i + 2];
        out[0] = kDigits[v >> 18];
        out[1] = kDigits[(v >> 12) & 63];
        out[2] = kDigits[(v >> 6) & 63];
        out[3] = kDigits[v & 63];
        out += 4;
    }
    const size_t rest = nraw_ - whole;
    if (last && rest) {
        uint32_t v = uint32_t(raw_[whole]) << 16;
        if (rest > 1) v |= uint32_t(raw_[whole + 1]) << 8;
        *out++ = kDigits[v >> 18];
        *out++ = kDigits[(v >> 12) & 63];
        *out++ = rest > 1 ? kDigits[(v >> 6) & 63] : '=';
        *out++ = '=';
    }
    if (last) *out++ = '\n';
    f_.write(text_, static_cast<size_t>(out - text_));
    if (last) {
        nraw_ = 0;
    } else {
        std::memmove(raw_, raw_ + whole, rest);
        nraw_ = rest;
    }
}

void VtuWriter::begin(size_t points, size_t cells) {
    f_.printf("<?xml version=\"1.0\"?>\n<VTKFile type=\"UnstructuredGrid\" version=\"0.1\" "
              "byte_order=\"LittleEndian\" header_type=\"UInt64\">\n<UnstructuredGrid>\n"
              "<Piece NumberOfPoints=\"%zu\" NumberOfCells=\"%zu\">\n",
              points, cells);
    open_ = nullptr;
}

void VtuWriter::close() {
    if (open_) f_.printf("</%s>\n", open_);
    open_ = nullptr;
}

void VtuWriter::open(const char *part, const char *scalars) {
    close();
    f_.printf("<%s Scalars=\"%s\">\n", part, scalars);
    open_ = part;
}

// Point data first, then the cells' materials, the points and the cells.
void VtuWriter::step(const Sample &s, const std::vector<const Outcome *> &evaluated,
                     const std::vector<uint8_t> &nodeMaterial,
                     const std::vector<ExtraField> &extra) {
    const size_t n = static_cast<size_t>(s.nnod), ne = static_cast<size_t>(s.nel);
    begin(n, ne);
    open("PointData", "T_K");
    // The sample's fields that fields.h gives a VTU name, in its order.
    auto field = [&](const char *name, const PageVector<float> &v) {
        if (name) array<float>("Float32", name, n, 1, [&](size_t i) { return v[i]; });
    };
#define VHOST_VTU_FIELD(variable, member, type, extent, vtu) field(vtu, s.member);
    VHOST_FIELD_ARRAYS(VHOST_VTU_FIELD, VHOST_ARRAY_NONE)
#undef VHOST_VTU_FIELD
    const PageVector<float> *velocity[] = {&s.u1, &s.v1, &s.w1};
    array<float>("Float32", "velocity", n, 3, [&](size_t k) { return (*velocity[k % 3])[k / 3]; });
    array<uint8_t>("UInt8", "material", n, 1, [&](size_t i) {
        return static_cast<uint8_t>(s.inCasting(static_cast<int>(i)) ? 1 : 2);
    });
    auto doubles = [&](const std::string &name, const double *v) {
        array<double>("Float64", name, n, 1, [&](size_t i) { return v[i]; });
    };
    for (int c = 0; c < kNumConstituents; ++c)
        doubles(kConstituents[c], &s.micro[static_cast<size_t>(c) * n]);
    for (int a = 0; a < kNumAuxiliaries; ++a)
        doubles(kAuxiliaries[a], &s.aux[static_cast<size_t>(a) * n]);
    // Entry points: NaN at the nodes not evaluated and where they gave NaN.
    const size_t at = static_cast<size_t>(s.step - 1) * n;
    for (const Outcome *e : evaluated) {
        const double *v = &e->result.values[at];
        array<double>("Float64", fieldName(*e), n, 1, [&](size_t i) {
            return nodeMaterial[i] ? v[i] : std::numeric_limits<double>::quiet_NaN();
        });
    }
    for (const ExtraField &x : extra)
        doubles(x.name, &(*x.values)[at]);
    open("CellData", "material");
    array<int32_t>("Int32", "material", ne, 1, [&](size_t e) { return s.matId[e] + 1; });
    const PageVector<double> *xyz[] = {&s.x, &s.y, &s.z};
    mesh(
        n, ne, 8, 12, [&](size_t k) { return (*xyz[k % 3])[k / 3]; },
        [&](size_t k) { return s.conn[k]; });
}

} // namespace vhost
