/*
** vulmora_entry_points.h - the entry points of a user-function library.
**
** The one list of the functions the host resolves by name and calls. The
** library's exports, the template's placeholders, the prototypes of
** getVar.h, the host emulator and the tests are all made from it, and the
** CMake functions read it (one entry a line, in the form below).
**
**     VULMORA_ENTRY_POINTS(X) expands X(name, kind, mode, quantity) once
**     per entry:
**       name      the export name without the func_ prefix
**       kind      PROPERTY  double func_<name>(int node)
**                 STEP      void func_<name>(void *unused, int flag)
**       mode      how the solver calls it: NODAL (thermal and flow
**                 analyses, every node), MECHANICAL (stress analysis: a
**                 registration call, then every node in local mode) or
**                 STEP (once a step)
**       quantity  what it returns. In the user's unit, converted by the
**                 library (VULMORA_QTY_<quantity> is the code getVar.h's
**                 converters take, and getVar.h lists the units):
**                 TEMPERATURE, LENGTH, HEATFLUX, HEATTRANSFERCOEFF,
**                 VELOCITY, MASSFLOWRATE. In an internal unit, never
**                 converted: DENSITY (g/cm^3), STRESS and MODULUS
**                 (dyn/cm^2), EXPANSION (1/K), and the unitless or
**                 law-specific EMISSIVITY, POISSONRATIO, EXPONENT,
**                 LAWPARAMETER, MASSSOURCE. USERPROPERTY: what
**                 name_mechprop and unit_mechprop say. NONE for STEP.
**
** Plain C and C++; it defines nothing but macros.
*/
#ifndef VULMORA_ENTRY_POINTS_H
#define VULMORA_ENTRY_POINTS_H

/* clang-format off */
#define VULMORA_ENTRY_POINTS(X)                                                                    \
    X(convehtransfer, PROPERTY, NODAL, HEATTRANSFERCOEFF)           /* to the surroundings */      \
    X(density, PROPERTY, NODAL, DENSITY)                                                           \
    X(emissivity, PROPERTY, NODAL, EMISSIVITY)                      /* of the surface, 0..1 */     \
    X(hardeningexponent, PROPERTY, MECHANICAL, EXPONENT)                                           \
    X(hardeningkinematic1, PROPERTY, MECHANICAL, LAWPARAMETER)      /* first kinematic one */      \
    X(hardeningkinematic2, PROPERTY, MECHANICAL, LAWPARAMETER)      /* second kinematic one */     \
    X(hardeningplasticmodulus, PROPERTY, MECHANICAL, MODULUS)       /* plastic modulus */          \
    X(hardeningultimatestress, PROPERTY, MECHANICAL, STRESS)        /* ultimate stress */          \
    X(heatflux, PROPERTY, NODAL, HEATFLUX)                          /* into the node */            \
    X(interhtransfer, PROPERTY, NODAL, HEATTRANSFERCOEFF)           /* across an interface */      \
    X(masssourceflowrate, PROPERTY, NODAL, MASSFLOWRATE)            /* of a mass source */         \
    X(mechprop1, PROPERTY, MECHANICAL, USERPROPERTY)                /* name_mechprop[0] */         \
    X(mechprop2, PROPERTY, MECHANICAL, USERPROPERTY)                /* name_mechprop[1] */         \
    X(mechprop3, PROPERTY, MECHANICAL, USERPROPERTY)                /* name_mechprop[2] */         \
    X(mechprop4, PROPERTY, MECHANICAL, USERPROPERTY)                /* name_mechprop[3] */         \
    X(mechprop5, PROPERTY, MECHANICAL, USERPROPERTY)                /* name_mechprop[4] */         \
    X(poissonratio, PROPERTY, MECHANICAL, POISSONRATIO)                                            \
    X(texternal, PROPERTY, NODAL, TEMPERATURE)                      /* external (ambient) */       \
    X(thermalexpansion, PROPERTY, MECHANICAL, EXPANSION)                                           \
    X(viscoplasticstrainpower, PROPERTY, MECHANICAL, EXPONENT)      /* strain exponent */          \
    X(viscoplasticstresspower, PROPERTY, MECHANICAL, EXPONENT)      /* stress exponent */          \
    X(viscoplasticviscousparam, PROPERTY, MECHANICAL, LAWPARAMETER) /* viscous parameter */        \
    X(vximposed, PROPERTY, NODAL, VELOCITY)                         /* imposed, x */               \
    X(vxsolidtransport, PROPERTY, NODAL, VELOCITY)                  /* solid transport, x */       \
    X(vyimposed, PROPERTY, NODAL, VELOCITY)                         /* imposed, y */               \
    X(vysolidtransport, PROPERTY, NODAL, VELOCITY)                  /* solid transport, y */       \
    X(vzimposed, PROPERTY, NODAL, VELOCITY)                         /* imposed, z */               \
    X(vzsolidtransport, PROPERTY, NODAL, VELOCITY)                  /* solid transport, z */       \
    X(xmasssource, PROPERTY, NODAL, MASSSOURCE)                     /* x component */              \
    X(xtranslation, PROPERTY, NODAL, LENGTH)                        /* x component */              \
    X(yieldstress, PROPERTY, MECHANICAL, STRESS)                                                   \
    X(ymasssource, PROPERTY, NODAL, MASSSOURCE)                     /* y component */              \
    X(youngsmodulus, PROPERTY, MECHANICAL, MODULUS)                                                \
    X(ytranslation, PROPERTY, NODAL, LENGTH)                        /* y component */              \
    X(zmasssource, PROPERTY, NODAL, MASSSOURCE)                     /* z component */              \
    X(ztranslation, PROPERTY, NODAL, LENGTH)                        /* z component */              \
    X(externalcompute, STEP, STEP, NONE)                            /* flag 0 resets the flags */
/* clang-format on */

/* The counts, as constant expressions: VULMORA_ENTRY_POINT_COUNT (all of
** them) and VULMORA_PROPERTY_ENTRY_POINT_COUNT (kind PROPERTY). */
#define VULMORA_EP_ONE_(name, kind, mode, quantity) +1
#define VULMORA_EP_IS_PROPERTY_PROPERTY 1
#define VULMORA_EP_IS_PROPERTY_STEP 0
#define VULMORA_EP_PROPERTY_(name, kind, mode, quantity) +VULMORA_EP_IS_PROPERTY_##kind
#define VULMORA_ENTRY_POINT_COUNT (0 VULMORA_ENTRY_POINTS(VULMORA_EP_ONE_))
#define VULMORA_PROPERTY_ENTRY_POINT_COUNT (0 VULMORA_ENTRY_POINTS(VULMORA_EP_PROPERTY_))

#endif
