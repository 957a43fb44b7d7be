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
** The comment of each entry says what it returns, in the user's unit: a
** number in parentheses is the quantity code of getVar.h's converters
** (VULMORA_QTY_...), whose units getVar.h lists; a unit written out is
** the internal one, which is never converted.
**
** Plain C and C++; it defines nothing but macros.
*/
#ifndef VULMORA_ENTRY_POINTS_H
#define VULMORA_ENTRY_POINTS_H

/* clang-format off */
#define VULMORA_ENTRY_POINTS(X)                                                                    \
    X(convehtransfer, PROPERTY, NODAL)                 /* transfer coefficient, surroundings (7) */\
    X(density, PROPERTY, NODAL)                        /* density, g/cm^3 */                       \
    X(emissivity, PROPERTY, NODAL)                     /* emissivity of the surface, 0..1 */       \
    X(hardeningexponent, PROPERTY, MECHANICAL)         /* hardening exponent */                    \
    X(hardeningkinematic1, PROPERTY, MECHANICAL)       /* first kinematic hardening parameter */   \
    X(hardeningkinematic2, PROPERTY, MECHANICAL)       /* second kinematic hardening parameter */  \
    X(hardeningplasticmodulus, PROPERTY, MECHANICAL)   /* plastic modulus, dyn/cm^2 */             \
    X(hardeningultimatestress, PROPERTY, MECHANICAL)   /* ultimate stress, dyn/cm^2 */             \
    X(heatflux, PROPERTY, NODAL)                       /* heat flux into the node (6) */           \
    X(interhtransfer, PROPERTY, NODAL)                 /* transfer coefficient, interface (7) */   \
    X(masssourceflowrate, PROPERTY, NODAL)             /* mass flow rate of a source (13) */       \
    X(mechprop1, PROPERTY, MECHANICAL)                 /* user property 1 (name_mechprop[0]) */    \
    X(mechprop2, PROPERTY, MECHANICAL)                 /* user property 2 (name_mechprop[1]) */    \
    X(mechprop3, PROPERTY, MECHANICAL)                 /* user property 3 (name_mechprop[2]) */    \
    X(mechprop4, PROPERTY, MECHANICAL)                 /* user property 4 (name_mechprop[3]) */    \
    X(mechprop5, PROPERTY, MECHANICAL)                 /* user property 5 (name_mechprop[4]) */    \
    X(poissonratio, PROPERTY, MECHANICAL)              /* Poisson ratio */                         \
    X(texternal, PROPERTY, NODAL)                      /* external (ambient) temperature (-1) */   \
    X(thermalexpansion, PROPERTY, MECHANICAL)          /* thermal expansion, 1/K */                \
    X(viscoplasticstrainpower, PROPERTY, MECHANICAL)   /* strain exponent, viscoplastic law */     \
    X(viscoplasticstresspower, PROPERTY, MECHANICAL)   /* stress exponent, viscoplastic law */     \
    X(viscoplasticviscousparam, PROPERTY, MECHANICAL)  /* viscous parameter, viscoplastic law */   \
    X(vximposed, PROPERTY, NODAL)                      /* imposed velocity, x (8) */               \
    X(vxsolidtransport, PROPERTY, NODAL)               /* solid transport velocity, x (8) */       \
    X(vyimposed, PROPERTY, NODAL)                      /* imposed velocity, y (8) */               \
    X(vysolidtransport, PROPERTY, NODAL)               /* solid transport velocity, y (8) */       \
    X(vzimposed, PROPERTY, NODAL)                      /* imposed velocity, z (8) */               \
    X(vzsolidtransport, PROPERTY, NODAL)               /* solid transport velocity, z (8) */       \
    X(xmasssource, PROPERTY, NODAL)                    /* mass source, x component */              \
    X(xtranslation, PROPERTY, NODAL)                   /* translation, x component (0) */          \
    X(yieldstress, PROPERTY, MECHANICAL)               /* yield stress, dyn/cm^2 */                \
    X(ymasssource, PROPERTY, NODAL)                    /* mass source, y component */              \
    X(youngsmodulus, PROPERTY, MECHANICAL)             /* Young's modulus, dyn/cm^2 */             \
    X(ytranslation, PROPERTY, NODAL)                   /* translation, y component (0) */          \
    X(zmasssource, PROPERTY, NODAL)                    /* mass source, z component */              \
    X(ztranslation, PROPERTY, NODAL)                   /* translation, z component (0) */          \
    X(externalcompute, STEP, STEP)                     /* once a step; flag 0 resets the flags */
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
