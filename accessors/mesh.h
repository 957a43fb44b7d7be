// mesh.h - element-type helpers shared by the field accessors.
//
// The per-type tables el_nnode and el_ngp have one entry per type code
// 0..11. A code outside that range comes only from inconsistent host data;
// it is read as an element with no nodes and no integration points, so no
// accessor ever indexes past the tables.
#ifndef VULMORA_ACCESSORS_MESH_H
#define VULMORA_ACCESSORS_MESH_H

#include "../exchange/exchange.h"

namespace vulmora {

// True when `type` indexes the per-type tables.
inline bool knownType(int type) {
    return static_cast<unsigned>(type) < static_cast<unsigned>(VULMORA_NTYPES);
}

// Nodes of an element of type code `type` (0 for an unknown code).
inline int typeNodes(int type) {
    return knownType(type) ? el_nnode[type] : 0;
}

// Integration points of an element of type code `type` (0 for an unknown
// code).
inline int typePoints(int type) {
    return knownType(type) ? el_ngp[type] : 0;
}

} // namespace vulmora

#endif
