/*
** template.c - the start of your user-function library. Copy it, keep it,
** and add the entry points your model needs.
**
**   1. Copy this file into your project (it is plain C99; the installed
**      package has it as share/vulmora/template.c).
**   2. Look up the entry points your model needs in vulmora_entry_points.h,
**      next to getVar.h: each one's name, what it returns in which unit,
**      and when the host calls it. getVar.h declares every one of them with
**      its calling convention, so a definition with another signature does
**      not compile:
**          double func_<name>(int node);   node 1-based, cur_node = node - 1
**          void func_externalcompute(void *unused, int flag);
**   3. Define those entry points below, reading the host's state only
**      through the accessors of getVar.h. Accessors give temperatures,
**      lengths and velocities in the user's units: convert them to the
**      internal units (CGS with calories, Kelvin) with fconvertToCGS, work
**      there, and convert the result back with fconvertFromCGS. getVar.h
**      lists the internal unit of every quantity and the user's units.
**      The entry points you do not define get the template's placeholder,
**      which prints a line naming it and ends the run: a model that asks
**      for one you forgot says so at once.
**   4. Build it with CMake:
**          find_package(Vulmora CONFIG REQUIRED)
**          vulmora_add_user_library(myprops SOURCES template.c)
**      Entry points need no export annotation; a func_ name that is no
**      entry point (a misspelling) fails the build with the nearest name.
**   5. Try it on the sample casting without the solver:
**          vulmora-host --library build/libmyprops.so
**
** A property that cannot be computed stops the run with a message of its
** own, through vulmora_stop (printf-style), as the one below does.
*/
#include "getVar.h"

/* ======================================================================
** Heat-transfer coefficient to the surroundings (nodal mode, at every node
** of the surfaces that use it): natural convection plus radiation
** linearised about the ambient temperature,
**   h = H_CONVECTION + EMISSIVITY * SIGMA * (T^2 + Ta^2) * (T + Ta)
** in cal/(s cm^2 K), returned in the user's unit of heat-transfer
** coefficient.
** ==================================================================== */

#define H_CONVECTION 2.4e-4 /* cal/(s cm^2 K), about 10 W/(m^2 K) */
#define EMISSIVITY 0.8      /* of an oxidised casting surface */
#define SIGMA 1.3543e-12    /* Stefan-Boltzmann constant, cal/(s cm^2 K^4) */
#define T_AMBIENT 293.0     /* K */

double func_convehtransfer(int node) {
    /* getT1 answers in the user's temperature unit: this is Kelvin. */
    double t = fconvertToCGS(VULMORA_QTY_TEMPERATURE, getT1(node));
    double h;
    if (!(t > 0.0)) /* NaN included */
        vulmora_stop("convehtransfer: temperature %g K at node %d\n", t, node);
    h = H_CONVECTION + EMISSIVITY * SIGMA * (t * t + T_AMBIENT * T_AMBIENT) * (t + T_AMBIENT);
    return fconvertFromCGS(VULMORA_QTY_HEATTRANSFERCOEFF, h);
}
