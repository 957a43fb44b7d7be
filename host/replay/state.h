// state.h - reading a state file (runtime/state_format.h) into memory.
//
// Every check is made before anything of the file is used: the header
// (magic, version, byte order, sizes), the section table (known names,
// types, 64-byte alignment, offsets inside the file, no overflow), the
// extents against the counts, and the values later code indexes with
// (element types, connectivity, cur_node). A file that fails a check is
// refused with one line saying why.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "model/binding.h"
#include "platform/files.h"
#include "runtime/state_writer.h"

namespace vhost {

class State {
  public:
    // The header as read (valid after a successful load).
    const vulmora_state_header &header() const { return *header_; }
    // Items of section `id`, or 0 when the file has none (then data() is null).
    uint64_t count(int id) const { return sections_[id].count; }
    void *data(int id) const { return sections_[id].data; }
    template <class T> T *array(int id) const { return static_cast<T *>(data(id)); }
    // Row pointers into the connectivity, as the host's ncon (null rows
    // where the file had none); empty when the file has no ncon.
    std::vector<int *> &rows() { return rows_; }
    // The recorded microstructure look-ups.
    const vulmora_state_micro *micro() const {
        return array<vulmora_state_micro>(VULMORA_SECTION_micro_values);
    }
    size_t microCount() const { return static_cast<size_t>(count(VULMORA_SECTION_micro_values)); }
    // The build record of the library that made the file ("": none).
    std::string buildRecord() const {
        const char *text = array<const char>(VULMORA_SECTION_build_record);
        return text ? std::string(text, count(VULMORA_SECTION_build_record)) : std::string();
    }

    // Check a copy of `size` bytes; false with a one-line reason.
    bool parse(const void *bytes, size_t size, std::string &error);
    // Check and take a whole file's image (released with the state, also
    // when the check fails); `image` is empty afterwards.
    bool adopt(platform::FileImage &image, std::string &error);

  private:
    struct Section {
        void *data = nullptr;
        uint64_t count = 0;
    };
    struct Free {
        size_t size = 0;
        bool image = false; // from platform::loadFileImage
        void operator()(unsigned char *p) const;
    };
    using Buffer = std::unique_ptr<unsigned char[], Free>;
    // The checks, in order: the whole file, then the steps of check().
    bool check(std::string &error);
    bool readTable(const vulmora_state_header &h, std::string &error);
    bool checkTypes(std::string &error) const;
    bool checkExtents(const vulmora_state_header &h, std::string &error) const;
    bool checkIndices(const vulmora_state_header &h, std::string &error);

    Buffer buffer_{nullptr, Free{}};
    size_t size_ = 0;
    const vulmora_state_header *header_ = nullptr;
    Section sections_[VULMORA_SECTION_COUNT];
    std::vector<int *> rows_;
};

// Read and check the file at `path`; false with "<path>: <reason>".
bool loadState(const std::string &path, State &state, std::string &error);

// Write `view` and `call` to `path` (a new file, or replaced); false with
// the reason.
bool saveState(const std::string &path, const vulmora_state_view &view,
               const vulmora_state_call &call, std::string &error);

// Point the block of `lib` at the loaded state `s` and write its scalars,
// mic_lastp, loc_micro and the mechanical-property texts; false (with the
// reason) when the state was made with other per-type tables than the
// library's. The state's memory stays with `s`, which must outlive the calls.
bool bindState(Library &lib, State &s, std::string &error);

// Name of a trigger / the outcome of the header, in words.
std::string triggerName(int trigger);
std::string outcomeText(const vulmora_state_header &h);

} // namespace vhost
