// vtu.h - one time step of a run as a VTK XML unstructured grid.
//
// Every array is written in binary (base64 of a 64-bit byte count and the
// little-endian values), so a file holds each value with all its bits: at
// a million nodes a step is about 215 MB with the sample's fields and one
// entry point, and 11 MB more for each further one.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace vhost {

class CheckedFile;
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

  private:
    // A DataArray of `count` tuples of `components` values of type T
    // (VTK's name `type`), value k being value(k).
    template <class T, class Value>
    void array(const char *type, const std::string &name, size_t count, int components,
               Value value);
    // Bytes into base64; encode(true) ends the array.
    void put(const unsigned char *p, size_t n);
    void encode(bool last);

    CheckedFile &f_;
    unsigned char raw_[3 * 16384];
    char text_[4 * 16384 + 8];
    size_t nraw_ = 0;
};

} // namespace vhost
