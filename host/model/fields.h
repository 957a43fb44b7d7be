// fields.h - where the host keeps what the exchange block points at.
//
// The block itself (its variables, their types and sizes) is the library's
// list in include/vulmora/vulmora_layout.h, and binding.h makes the host's view
// of it from that list. What the layout does not say is where the host
// keeps each array and what it calls it: that is the list below, the only
// one in the emulator. A new variable of the layout is resolved and bound
// without it; it needs a line here only when the sample is to fill it.
#pragma once

#include <cstddef>

namespace vhost {

// How many items an array of the sample holds (Sample::items).
enum class Extent {
    Node,         // one per node (nnod; the velocity nodes are the nodes)
    Element,      // one per element (nel)
    Corner,       // 8 per element: the hexahedra's corners
    Point,        // 8 per element: their integration points
    Stress,       // 8 x 6 per element: the stress components at the points
    Constituents, // one row of nnod per active constituent
    Auxiliaries   // one row of nnod per active auxiliary variable
};

// VHOST_SAMPLE_ARRAYS(V, H) names every array of the sample casting, in the
// order of the guard's indices: the mesh, the fields at the nodes, then
// the integration points (the last three, filled together).
//
//   V(variable, member, type, extent, vtu)
//       The exchange variable `variable` points at the sample's
//       PageVector<type> `member`; the state file keeps it in the section
//       of that name and the guard calls it by that name. `vtu` is the
//       name the VTU files give the field, or nullptr when they leave it
//       out; those written come in the order of the list (hence level 1
//       first).
//   H(label, member, type, extent)
//       An array of the host's own that no variable names (the rows
//       behind ncon, the microstructure behind micModelsA): guarded and
//       reported as `label`.
// clang-format off
#define VHOST_MESH_ARRAYS(V, H) \
    V(x_cord,  x,      double, Extent::Node,    nullptr) \
    V(y_cord,  y,      double, Extent::Node,    nullptr) \
    V(z_cord,  z,      double, Extent::Node,    nullptr) \
    V(el_type, elType, int,    Extent::Element, nullptr) \
    V(mat_id,  matId,  int,    Extent::Element, nullptr) \
    V(ncon,    ncon,   int *,  Extent::Element, nullptr) \
    H("ncon rows", conn, int,  Extent::Corner) \
    V(el_vol,  elVol,  float,  Extent::Element, nullptr)
#define VHOST_FIELD_ARRAYS(V, H) \
    V(t1,           t1,      float, Extent::Node, "T_K") \
    V(t0,           t0,      float, Extent::Node, "T0_K") \
    V(fs1,          fs1,     float, Extent::Node, "fs") \
    V(vf_s1,        vf1,     float, Extent::Node, "vf_s1") \
    V(f_vol1,       fvol1,   float, Extent::Node, "f_vol1") \
    V(jctn1,        jctn1,   float, Extent::Node, "cooling_rate") \
    V(fatigue_life, fatigue, float, Extent::Node, "fatigue_life") \
    V(p1,           p1,      float, Extent::Node, "pressure") \
    V(mushy_strain, mushy,   float, Extent::Node, "mushy_strain") \
    V(fs0,          fs0,     float, Extent::Node, nullptr) \
    V(vf_s0,        vf0,     float, Extent::Node, nullptr) \
    V(f_vol0,       fvol0,   float, Extent::Node, nullptr) \
    V(jctn0,        jctn0,   float, Extent::Node, nullptr) \
    V(u0,           u0,      float, Extent::Node, nullptr) \
    V(v0,           v0,      float, Extent::Node, nullptr) \
    V(w0,           w0,      float, Extent::Node, nullptr) \
    V(u1,           u1,      float, Extent::Node, nullptr) \
    V(v1,           v1,      float, Extent::Node, nullptr) \
    V(w1,           w1,      float, Extent::Node, nullptr) \
    V(p0,           p0,      float, Extent::Node, nullptr) \
    H("microstructure constituents",        micro, double, Extent::Constituents) \
    H("microstructure auxiliary variables", aux,   double, Extent::Auxiliaries)
#define VHOST_POINT_ARRAYS(V, H) \
    V(fraction_void, fractionVoid, float, Extent::Point,  nullptr) \
    V(epstn_new,     epstn,        float, Extent::Point,  nullptr) \
    V(strsg,         strsg,        float, Extent::Stress, nullptr)
#define VHOST_SAMPLE_ARRAYS(V, H) \
    VHOST_MESH_ARRAYS(V, H) VHOST_FIELD_ARRAYS(V, H) VHOST_POINT_ARRAYS(V, H)
// clang-format on

// Helpers for the lists, taking V and H entries alike (the member comes
// second in both).
#define VHOST_ARRAY_COUNT(first, member, ...) +1
#define VHOST_ARRAY_DATA(first, member, ...) static_cast<const void *>(member.data()),
#define VHOST_ARRAY_NONE(...)

// Arrays in each group of the list.
constexpr size_t kMeshArrays = 0 VHOST_MESH_ARRAYS(VHOST_ARRAY_COUNT, VHOST_ARRAY_COUNT);
constexpr size_t kPointArrays = 0 VHOST_POINT_ARRAYS(VHOST_ARRAY_COUNT, VHOST_ARRAY_COUNT);

// The counts, flags and scalars of the block that the state file keeps in
// its header (the unit selectors are in units.h): X(variable, header),
// `header` the member of vulmora_state_header and vulmora_state_view.
// clang-format off
#define VHOST_STATE_SCALARS(X) \
    X(nnod, nnod) X(nvnod, nvnod) X(nel, nel) X(nstr1, nstr1) X(TWO_D, two_d) \
    X(cur_node, cur_node) X(location, location) \
    X(tnodecontrol, tnodecontrol) X(vnodecontrol, vnodecontrol) \
    X(stress_scale, stress_scale) X(func_temp, func_temp) X(loc_poro, loc_poro)
// clang-format on

} // namespace vhost
