/*
** vulmora_entry_points.h - the entry points of a user-function library.
**
** The one list of the functions the host resolves by name and calls. The
** library's exports, the template's placeholders, the prototypes of
** getVar.h, the host emulator and the tests are all made from it, and the
** CMake functions read it (one entry a line, in the form below).
**
**     VULMORA_ENTRY_POINTS(X) expands X(name, kind, mode) once per entry:
**       name  the export name without the func_ prefix
**       kind  PROPERTY  double func_<name>(int node)
**             STEP      void func_<name>(void *unused, int flag)
**       mode  how the solver calls it: NODAL (thermal and flow analyses,
**             every node), MECHANICAL (stress analysis: a registration
**             call, then every node in local mode) or STEP (once a step)
**
** Plain C and C++; it defines nothing but macros.
*/
#ifndef VULMORA_ENTRY_POINTS_H
#define VULMORA_ENTRY_POINTS_H

/* clang-format off */
#define VULMORA_ENTRY_POINTS(X) \
    X(convehtransfer, PROPERTY, NODAL) \
    X(density, PROPERTY, NODAL) \
    X(emissivity, PROPERTY, NODAL) \
    X(hardeningexponent, PROPERTY, MECHANICAL) \
    X(hardeningkinematic1, PROPERTY, MECHANICAL) \
    X(hardeningkinematic2, PROPERTY, MECHANICAL) \
    X(hardeningplasticmodulus, PROPERTY, MECHANICAL) \
    X(hardeningultimatestress, PROPERTY, MECHANICAL) \
    X(heatflux, PROPERTY, NODAL) \
    X(interhtransfer, PROPERTY, NODAL) \
    X(masssourceflowrate, PROPERTY, NODAL) \
    X(mechprop1, PROPERTY, MECHANICAL) \
    X(mechprop2, PROPERTY, MECHANICAL) \
    X(mechprop3, PROPERTY, MECHANICAL) \
    X(mechprop4, PROPERTY, MECHANICAL) \
    X(mechprop5, PROPERTY, MECHANICAL) \
    X(poissonratio, PROPERTY, MECHANICAL) \
    X(texternal, PROPERTY, NODAL) \
    X(thermalexpansion, PROPERTY, MECHANICAL) \
    X(viscoplasticstrainpower, PROPERTY, MECHANICAL) \
    X(viscoplasticstresspower, PROPERTY, MECHANICAL) \
    X(viscoplasticviscousparam, PROPERTY, MECHANICAL) \
    X(vximposed, PROPERTY, NODAL) \
    X(vxsolidtransport, PROPERTY, NODAL) \
    X(vyimposed, PROPERTY, NODAL) \
    X(vysolidtransport, PROPERTY, NODAL) \
    X(vzimposed, PROPERTY, NODAL) \
    X(vzsolidtransport, PROPERTY, NODAL) \
    X(xmasssource, PROPERTY, NODAL) \
    X(xtranslation, PROPERTY, NODAL) \
    X(yieldstress, PROPERTY, MECHANICAL) \
    X(ymasssource, PROPERTY, NODAL) \
    X(youngsmodulus, PROPERTY, MECHANICAL) \
    X(ytranslation, PROPERTY, NODAL) \
    X(zmasssource, PROPERTY, NODAL) \
    X(ztranslation, PROPERTY, NODAL) \
    X(externalcompute, STEP, STEP)
/* clang-format on */

/* The counts, as constant expressions: VULMORA_ENTRY_POINT_COUNT (all of
** them) and VULMORA_PROPERTY_ENTRY_POINT_COUNT (kind PROPERTY). */
#define VULMORA_EP_ONE_(name, kind, mode) +1
#define VULMORA_EP_IS_PROPERTY_PROPERTY 1
#define VULMORA_EP_IS_PROPERTY_STEP 0
#define VULMORA_EP_PROPERTY_(name, kind, mode) +VULMORA_EP_IS_PROPERTY_##kind
#define VULMORA_ENTRY_POINT_COUNT (0 VULMORA_ENTRY_POINTS(VULMORA_EP_ONE_))
#define VULMORA_PROPERTY_ENTRY_POINT_COUNT (0 VULMORA_ENTRY_POINTS(VULMORA_EP_PROPERTY_))

#endif
