// vtu.h - VTK XML unstructured grids: one time step of a run, or any
// values on a mesh (a replay's every-node results).
//
// Every array is written in binary (base64 of a 64-bit byte count and the
// little-endian values), so a file holds each value with all its bits: at
// a million nodes a step is about 215 MB with the sample's fields and one
// entry point, and 11 MB more for each further one.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "output/outdir.h"

namespace vhost {

class Sample;
struct Outcome;
struct ExtraField;

class VtuWriter {
  public:
    explicit VtuWriter(CheckedFile &f) : f_(f) {}

    // The sample's fields at level 1 (and the temperature at level 0),
    // its microstructure and materials, the entry points' values of the
    // sample's current step (NaN where `nodeMaterial` is 0: not evaluated)
    // and the `extra` fields, on the sample's mesh.
    void step(const Sample &s, const std::vector<const Outcome *> &evaluated,
              const std::vector<uint8_t> &nodeMaterial, const std::vector<ExtraField> &extra);

    // ---- the parts of any grid, in this order ----
    // The file's head, for a grid of `points` points and `cells` cells.
    void begin(size_t points, size_t cells);
    // Close the part that is open and open `part` (PointData, CellData),
    // `scalars` naming its active array.
    void open(const char *part, const char *scalars);
    // A DataArray of `count` tuples of `components` values of type T
    // (VTK's name `type`), value k being value(k).
    template <class T, class Value>
    void array(const char *type, const std::string &name, size_t count, int components,
               Value value);
    // Close the part that is open and write the points (coordinate k % 3
    // of point k / 3 is xyz(k)) and the cells: each of `perCell` points,
    // point j of cell c being point(c * perCell + j), all of VTK cell type
    // `cellType`; then the file's end.
    template <class Xyz, class Point>
    void mesh(size_t points, size_t cells, int perCell, uint8_t cellType, Xyz xyz, Point point);

  private:
    // Bytes into base64; encode(true) ends the array.
    void put(const unsigned char *p, size_t n);
    void encode(bool last);
    void close();

    CheckedFile &f_;
    unsigned char raw_[3 * 16384];
    char text_[4 * 16384 + 8];
    size_t nraw_ = 0;
    const char *open_ = nullptr; // the part open
};

namespace vtu_detail {

// The little-endian bytes of v.
template <class T> void littleEndian(T v, unsigned char (&out)[sizeof(T)]) {
    std::memcpy(out, &v, sizeof v);
    if constexpr (std::endian::native == std::endian::big)
        for (size_t i = 0; i < sizeof(T) / 2; ++i)
            std::swap(out[i], out[sizeof(T) - 1 - i]);
}

} // namespace vtu_detail

template <class T, class Value>
void VtuWriter::array(const char *type, const std::string &name, size_t count, int components,
                      Value value) {
    f_.printf("<DataArray type=\"%s\" Name=\"%s\"", type, name.c_str());
    if (components > 1) f_.printf(" NumberOfComponents=\"%d\"", components);
    f_.printf(" format=\"binary\">\n");
    const size_t n = count * static_cast<size_t>(components);
    unsigned char bytes[sizeof(uint64_t)];
    vtu_detail::littleEndian<uint64_t>(n * sizeof(T), bytes);
    put(bytes, sizeof bytes);
    unsigned char item[sizeof(T)];
    for (size_t k = 0; k < n && f_.ok(); ++k) {
        vtu_detail::littleEndian<T>(static_cast<T>(value(k)), item);
        put(item, sizeof item);
    }
    encode(true);
    f_.printf("</DataArray>\n");
}

template <class Xyz, class Point>
void VtuWriter::mesh(size_t points, size_t cells, int perCell, uint8_t cellType, Xyz xyz,
                     Point point) {
    close();
    f_.printf("<Points>\n");
    array<double>("Float64", "coordinates", points, 3, xyz);
    f_.printf("</Points>\n<Cells>\n");
    const size_t per = static_cast<size_t>(perCell);
    array<int32_t>("Int32", "connectivity", cells * per, 1, point);
    array<int32_t>("Int32", "offsets", cells, 1,
                   [&](size_t c) { return static_cast<int32_t>((c + 1) * per); });
    array<uint8_t>("UInt8", "types", cells, 1, [&](size_t) { return cellType; });
    f_.printf("</Cells>\n</Piece>\n</UnstructuredGrid>\n</VTKFile>\n");
}

} // namespace vhost
