/*
** template.c - the starting point of a user-function library.
**
** The host calls the entry points below whenever a model asks for a
** property, boundary condition or source that you program instead of
** tabulating. This file holds every one of them with the template's body:
** a line naming the entry point, then the end of the run. To program your
** model:
**
**   1. Copy this file into your project (it is plain C99).
**   2. Delete every entry point your model does not use. The build puts the
**      template's body in place of each one you leave out, so the host
**      still finds all 37 names.
**   3. Replace the body of each entry point you keep. Read the host's state
**      only through the accessors of getVar.h; they return values in the
**      user's units, so convert with fconvertToCGS where your formula
**      wants internal units (CGS, Kelvin).
**   4. Build it with CMake:
**          find_package(Vulmora CONFIG REQUIRED)
**          vulmora_add_user_library(myprops SOURCES template.c)
**      Entry points need no export annotation: the build exports them.
**   5. Try it on the sample casting without the solver:
**          vulmora-host --library build/libmyprops.so
**
** Calling convention. Each property entry point is
**     double func_<name>(int node)
** where node is the 1-based number of the node being evaluated (the host
** set cur_node = node - 1 before the call), and returns the value in the
** user's unit stated below. func_externalcompute is called once per step.
**
** A property that cannot be computed should stop the run with a message
** of its own, the way these bodies do: vulmora_stop("...\n").
*/
#include "getVar.h"
/* ======================================================================
** Heat flow: boundary conditions and properties
** When: nodal mode: called for each node of the boundary or region that uses it.
** ====================================================================== */
/* Returns the convective heat-transfer coefficient to the surroundings, in the user's unit of
 * heat-transfer coefficient (quantity 7). */
double func_convehtransfer(int node) {
    (void)node;
    vulmora_stop("---> exit in C user function convehtransfer <---\n");
    return 0.0;
}

/* Returns the density at the node, g/cm^3. */
double func_density(int node) {
    (void)node;
    vulmora_stop("---> exit in C user function density <---\n");
    return 0.0;
}

/* Returns the emissivity of the surface (0..1). */
double func_emissivity(int node) {
    (void)node;
    vulmora_stop("---> exit in C user function emissivity <---\n");
    return 0.0;
}

/* Returns the heat flux into the node, in the user's unit of heat flux (quantity 6). */
double func_heatflux(int node) {
    (void)node;
    vulmora_stop("---> exit in C user function heatflux <---\n");
    return 0.0;
}

/* Returns the heat-transfer coefficient across an interface (casting/mould), quantity 7. */
double func_interhtransfer(int node) {
    (void)node;
    vulmora_stop("---> exit in C user function interhtransfer <---\n");
    return 0.0;
}

/* Returns the external (ambient) temperature, in the user's temperature unit. */
double func_texternal(int node) {
    (void)node;
    vulmora_stop("---> exit in C user function texternal <---\n");
    return 0.0;
}

/* ======================================================================
** Flow: imposed velocities, transport and mass sources
** When: nodal mode: called for each velocity node of the region that uses it.
** ====================================================================== */
/* Returns the mass flow rate of a source, in the user's unit of mass flow rate (quantity 13). */
double func_masssourceflowrate(int node) {
    (void)node;
    vulmora_stop("---> exit in C user function masssourceflowrate <---\n");
    return 0.0;
}

/* Returns the imposed velocity, x component, in the user's unit of velocity (quantity 8). */
double func_vximposed(int node) {
    (void)node;
    vulmora_stop("---> exit in C user function vximposed <---\n");
    return 0.0;
}

/* Returns the imposed velocity, y component (quantity 8). */
double func_vyimposed(int node) {
    (void)node;
    vulmora_stop("---> exit in C user function vyimposed <---\n");
    return 0.0;
}

/* Returns the imposed velocity, z component (quantity 8). */
double func_vzimposed(int node) {
    (void)node;
    vulmora_stop("---> exit in C user function vzimposed <---\n");
    return 0.0;
}

/* Returns the velocity of solid transport, x component (quantity 8). */
double func_vxsolidtransport(int node) {
    (void)node;
    vulmora_stop("---> exit in C user function vxsolidtransport <---\n");
    return 0.0;
}

/* Returns the velocity of solid transport, y component (quantity 8). */
double func_vysolidtransport(int node) {
    (void)node;
    vulmora_stop("---> exit in C user function vysolidtransport <---\n");
    return 0.0;
}

/* Returns the velocity of solid transport, z component (quantity 8). */
double func_vzsolidtransport(int node) {
    (void)node;
    vulmora_stop("---> exit in C user function vzsolidtransport <---\n");
    return 0.0;
}

/* Returns the x component of the masssource the model asks for at this node, in the user's unit of
 * its quantity. */
double func_xmasssource(int node) {
    (void)node;
    vulmora_stop("---> exit in C user function xmasssource <---\n");
    return 0.0;
}

/* Returns the y component of the masssource the model asks for at this node, in the user's unit of
 * its quantity. */
double func_ymasssource(int node) {
    (void)node;
    vulmora_stop("---> exit in C user function ymasssource <---\n");
    return 0.0;
}

/* Returns the z component of the masssource the model asks for at this node, in the user's unit of
 * its quantity. */
double func_zmasssource(int node) {
    (void)node;
    vulmora_stop("---> exit in C user function zmasssource <---\n");
    return 0.0;
}

/* Returns the x component of the translation the model asks for at this node, in the user's unit of
 * its quantity. */
double func_xtranslation(int node) {
    (void)node;
    vulmora_stop("---> exit in C user function xtranslation <---\n");
    return 0.0;
}

/* Returns the y component of the translation the model asks for at this node, in the user's unit of
 * its quantity. */
double func_ytranslation(int node) {
    (void)node;
    vulmora_stop("---> exit in C user function ytranslation <---\n");
    return 0.0;
}

/* Returns the z component of the translation the model asks for at this node, in the user's unit of
 * its quantity. */
double func_ztranslation(int node) {
    (void)node;
    vulmora_stop("---> exit in C user function ztranslation <---\n");
    return 0.0;
}

/* ======================================================================
** Stress: mechanical properties
** When: stress analysis: once in registration mode, then per point in local mode; getFraction,
*getMicro and getDefect may be used.
** ====================================================================== */
/* Returns the Young's modulus, in the host's stress unit. */
double func_youngsmodulus(int node) {
    (void)node;
    vulmora_stop("---> exit in C user function youngsmodulus <---\n");
    return 0.0;
}

/* Returns the Poisson ratio (dimensionless). */
double func_poissonratio(int node) {
    (void)node;
    vulmora_stop("---> exit in C user function poissonratio <---\n");
    return 0.0;
}

/* Returns the yield stress, in the host's stress unit. */
double func_yieldstress(int node) {
    (void)node;
    vulmora_stop("---> exit in C user function yieldstress <---\n");
    return 0.0;
}

/* Returns the thermal expansion (linear strain or coefficient, as the model is set up). */
double func_thermalexpansion(int node) {
    (void)node;
    vulmora_stop("---> exit in C user function thermalexpansion <---\n");
    return 0.0;
}

/* Returns the hardening exponent. */
double func_hardeningexponent(int node) {
    (void)node;
    vulmora_stop("---> exit in C user function hardeningexponent <---\n");
    return 0.0;
}

/* Returns the first kinematic hardening parameter. */
double func_hardeningkinematic1(int node) {
    (void)node;
    vulmora_stop("---> exit in C user function hardeningkinematic1 <---\n");
    return 0.0;
}

/* Returns the second kinematic hardening parameter. */
double func_hardeningkinematic2(int node) {
    (void)node;
    vulmora_stop("---> exit in C user function hardeningkinematic2 <---\n");
    return 0.0;
}

/* Returns the plastic (hardening) modulus. */
double func_hardeningplasticmodulus(int node) {
    (void)node;
    vulmora_stop("---> exit in C user function hardeningplasticmodulus <---\n");
    return 0.0;
}

/* Returns the ultimate stress of the hardening law. */
double func_hardeningultimatestress(int node) {
    (void)node;
    vulmora_stop("---> exit in C user function hardeningultimatestress <---\n");
    return 0.0;
}

/* Returns the strain exponent of the viscoplastic law. */
double func_viscoplasticstrainpower(int node) {
    (void)node;
    vulmora_stop("---> exit in C user function viscoplasticstrainpower <---\n");
    return 0.0;
}

/* Returns the stress exponent of the viscoplastic law. */
double func_viscoplasticstresspower(int node) {
    (void)node;
    vulmora_stop("---> exit in C user function viscoplasticstresspower <---\n");
    return 0.0;
}

/* Returns the viscous parameter of the viscoplastic law. */
double func_viscoplasticviscousparam(int node) {
    (void)node;
    vulmora_stop("---> exit in C user function viscoplasticviscousparam <---\n");
    return 0.0;
}

/* ======================================================================
** Stress: the user's own mechanical properties 1 to 5
** When: like the mechanical properties; may name the property in name_mechprop[N-1] (at most 100
*characters) and its unit in unit_mechprop[N-1] (at most 20).
** ====================================================================== */
/* Returns the the value of user property 1. */
double func_mechprop1(int node) {
    (void)node;
    name_mechprop[0][0] = 0; /* no name, no unit yet */
    unit_mechprop[0][0] = 0;
    vulmora_stop("---> exit in C user function mechprop1 <---\n");
    return 0.0;
}

/* Returns the the value of user property 2. */
double func_mechprop2(int node) {
    (void)node;
    name_mechprop[1][0] = 0; /* no name, no unit yet */
    unit_mechprop[1][0] = 0;
    vulmora_stop("---> exit in C user function mechprop2 <---\n");
    return 0.0;
}

/* Returns the the value of user property 3. */
double func_mechprop3(int node) {
    (void)node;
    name_mechprop[2][0] = 0; /* no name, no unit yet */
    unit_mechprop[2][0] = 0;
    vulmora_stop("---> exit in C user function mechprop3 <---\n");
    return 0.0;
}

/* Returns the the value of user property 4. */
double func_mechprop4(int node) {
    (void)node;
    name_mechprop[3][0] = 0; /* no name, no unit yet */
    unit_mechprop[3][0] = 0;
    vulmora_stop("---> exit in C user function mechprop4 <---\n");
    return 0.0;
}

/* Returns the the value of user property 5. */
double func_mechprop5(int node) {
    (void)node;
    name_mechprop[4][0] = 0; /* no name, no unit yet */
    unit_mechprop[4][0] = 0;
    vulmora_stop("---> exit in C user function mechprop5 <---\n");
    return 0.0;
}

/* ======================================================================
** Once per time step
** ==================================================================== */

/* Called by the host once per step with its own flag; as delivered it
** resets the two control flags when the flag is 0. */
void func_externalcompute(void *unused, int flag) {
    (void)unused;
    if (flag == 0) {
        tnodecontrol = 0;
        vnodecontrol = 0;
    }
}
