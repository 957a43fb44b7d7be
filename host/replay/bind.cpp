// bind.cpp - a state file's arrays and scalars in a library's block.
#include <cstring>
#include <type_traits>

#include "model/fields.h"
#include "replay/state.h"

namespace vhost {

namespace {

// Point variable `var` at section `id` of the state (null where the file
// has none). Arrays of the library itself take a copy of the section, the
// read-only tables are left alone (bind compares them); ncon, an array of
// rows, takes the state's row pointers.
template <class V> void takeSection(V *var, State &s, int id) {
    if constexpr (std::is_array_v<V>) {
        if constexpr (!std::is_const_v<std::remove_all_extents_t<V>>)
            if (const void *from = s.data(id)) std::memcpy(*var, from, sizeof(V));
    } else if constexpr (std::is_pointer_v<std::remove_pointer_t<V>>) {
        *var = s.rows().empty() ? nullptr : s.rows().data();
    } else {
        *var = s.array<std::remove_pointer_t<V>>(id);
    }
}

} // namespace

// Every pointer from the state (null where the file has no section).
bool bindState(Library &lib, State &s, std::string &error) {
    Exchange &x = lib.x;
    const vulmora_state_header &h = s.header();
    for (size_t t = 0; t < VULMORA_NTYPES; ++t) {
        const int *nn = s.array<int>(VULMORA_SECTION_el_nnode);
        const int *ng = s.array<int>(VULMORA_SECTION_el_ngp);
        if ((nn && nn[t] != (*x.el_nnode)[t]) || (ng && ng[t] != (*x.el_ngp)[t]))
            return error = "the state's per-type tables differ from the library's (type " +
                           std::to_string(t) + ")",
                   false;
    }
#define VHOST_FROM_HEADER(variable, header) *x.variable = h.header;
    VHOST_STATE_SCALARS(VHOST_FROM_HEADER)
#undef VHOST_FROM_HEADER
#define VHOST_FROM_HEADER(member, variable, code, fallback, label, alias) *x.variable = h.variable;
    VHOST_UNIT_SELECTORS(VHOST_FROM_HEADER)
#undef VHOST_FROM_HEADER
#define VHOST_FROM_SECTION(name, type, extent) takeSection(x.name, s, VULMORA_SECTION_##name);
    VULMORA_STATE_BLOCK_SECTIONS(VHOST_FROM_SECTION)
#undef VHOST_FROM_SECTION
    return true;
}

} // namespace vhost
