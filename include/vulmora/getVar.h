/*
** getVar.h - what user code in a user-function library may call.
**
** Include this file in the sources you pass to vulmora_add_user_library,
** as "getVar.h" or <vulmora/getVar.h>. It compiles as C and as C++.
** Everything here runs inside the host's call of one of your entry points
** and reads the host's current state afresh; nothing is cached between
** calls.
**
** Numbers. Node, element and material numbers are 1-based; 0 is never a
** valid number and is what the accessors return for "none". An out-of-range
** number is no error: the accessor returns 0 (or 0.0).
**
** Units. Values come back in the units the host selected for the user
** (temperature, length, velocity); the other fields come back as stored,
** in the internal units listed under "Unit conversion" below.
**
** Fatal stops. Where a comment says "stops", the accessor prints the quoted
** text to stdout and ends the process with exit status 1.
**
** Entry points. Define the entry points your model needs as plain C
** functions with the prototypes declared at the end of this file (in C++
** the declarations give them C linkage: include this file first). The
** build exports them, supplies a placeholder for every one you leave out,
** and fails on a func_ name that is no entry point. The host calls them
** as follows:
**
**   double func_<name>(int node);
**       node: the 1-based number of the node being evaluated (the host has
**       set cur_node = node - 1). Returns the property at that node in the
**       user's unit. This holds for every property entry point
**       (func_density, func_yieldstress, func_mechprop1, ...).
**   void func_externalcompute(void *unused, int flag);
**       Called once per time step; a flag of 0 resets the control flags.
**
** Thermal and flow properties (density, heat flux, transfer coefficients,
** imposed velocities, sources, translations, ...) are called at every node
** in nodal mode. Mechanical properties (youngsmodulus, poissonratio,
** yieldstress, thermalexpansion, hardening*, viscoplastic*, mechprop1..5)
** are called by the stress analysis: once in registration mode, then at
** every node in local mode (see "Microstructure and defects").
**
** A site whose solver calls the entry points with another convention
** defines VULMORA_NO_ENTRY_PROTOTYPES for the whole library
** (target_compile_definitions(<target> PRIVATE VULMORA_NO_ENTRY_PROTOTYPES));
** the prototypes below are then left out.
*/
/* vulmora_add_user_library has every source read this file first, so a
** source that leaves the prototypes out after that would still get them. */
#if defined(VULMORA_GETVAR_H) && defined(VULMORA_NO_ENTRY_PROTOTYPES) &&                           \
    defined(VULMORA_ENTRY_PROTOTYPES_DECLARED)
#error                                                                                             \
    "VULMORA_NO_ENTRY_PROTOTYPES must be defined for the whole library: getVar.h is read before every source; use target_compile_definitions(<target> PRIVATE VULMORA_NO_ENTRY_PROTOTYPES)"
#endif
#ifndef VULMORA_GETVAR_H
#define VULMORA_GETVAR_H

#include "vulmora_entry_points.h"
#include "vulmora_layout.h"

/* The version of the package this header belongs to. */
#define VULMORA_VERSION_MAJOR 0
#define VULMORA_VERSION_MINOR 1
#define VULMORA_VERSION_PATCH 0
#define VULMORA_VERSION                                                                            \
    (VULMORA_VERSION_MAJOR * 10000 + VULMORA_VERSION_MINOR * 100 + VULMORA_VERSION_PATCH)

/* VULMORA_USER_FUNCTION: C linkage for an entry point defined in C++. The
** prototypes below give it already; the macro is still there for sources
** that use it, and for sites that define VULMORA_NO_ENTRY_PROTOTYPES. */
#ifdef __cplusplus
#define VULMORA_USER_FUNCTION extern "C"
extern "C" {
#else
#define VULMORA_USER_FUNCTION
#endif

/* A function that never returns, and one that takes a printf format. */
#if defined(__GNUC__) || defined(__clang__)
#define VULMORA_NORETURN __attribute__((noreturn))
#define VULMORA_PRINTF(i) __attribute__((format(printf, i, i + 1)))
#elif defined(_MSC_VER)
#define VULMORA_NORETURN __declspec(noreturn)
#define VULMORA_PRINTF(i)
#else
#define VULMORA_NORETURN
#define VULMORA_PRINTF(i)
#endif

/* ======================================================================
** Unit conversion
**
** Internal units are CGS with calories for heat and Kelvin for
** temperature: a heat-transfer coefficient is in cal/(s cm^2 K), not erg.
**
**   quantity                   internal unit      stored in / returned by
**   temperature                K                  t0, t1, func_texternal
**   length, coordinates        cm                 x_cord.., el_vol (cm^3)
**   time                       s
**   thermal conductivity       cal/(s cm K)
**   heat flux                  cal/(s cm^2)       func_heatflux
**   heat-transfer coefficient  cal/(s cm^2 K)     func_interhtransfer, ..
**   velocity                   cm/s               u0..w1, func_v*
**   mass flow rate             g/s                func_masssourceflowrate
**   density                    g/cm^3             func_density
**   pressure, stress, moduli   dyn/cm^2           p0, p1, strsg, getStress*,
**                                                 func_youngsmodulus,
**                                                 func_yieldstress, ..
**   thermal expansion          1/K                func_thermalexpansion
**
** The host gives a selector 1..10 for each converted quantity (below, the
** VULMORA_QTY_ code passed to the converters); a selector outside 1..10
** and any other code leave the value unchanged. Selectors not named below
** are the internal unit.
**
**   VULMORA_QTY_TEMPERATURE (-1)  1 K, 2 C (K - 273), 3 F, 4 R
**   VULMORA_QTY_LENGTH (0)        1 m, 2 cm, 3 mm, 4 ft, 5 in
**   VULMORA_QTY_THERMALCONDUCTIVITY (3)
**       1 W/(m K), 2 cal/(s cm K), 3 cal/(s mm K), 4 BTU/(s ft F),
**       5 BTU/(s in F), 6 cal/(min cm K), 7 BTU/(min ft F), 8 BTU/(min in F)
**   VULMORA_QTY_TIME (4)          1 s, 2 min
**   VULMORA_QTY_HEATFLUX (6)
**       1 W/m^2, 2 cal/(s cm^2), 3 cal/(s mm^2), 4 BTU/(s ft^2),
**       5 BTU/(s in^2), 6 cal/(min cm^2), 7 BTU/(min ft^2), 8 BTU/(min in^2)
**   VULMORA_QTY_HEATTRANSFERCOEFF (7)
**       1 W/(m^2 K), 2 cal/(s cm^2 K), 3 cal/(s mm^2 K), 4 BTU/(s ft^2 F),
**       5 BTU/(s in^2 F), 6 cal/(min cm^2 K), 7 BTU/(min ft^2 F),
**       8 BTU/(min in^2 F)
**   VULMORA_QTY_VELOCITY (8)
**       1 m/s, 2 cm/s, 3 mm/s, 4 ft/s, 5 in/s, 6 m/min, 7 cm/min,
**       8 ft/min, 9 in/min
**   VULMORA_QTY_MASSFLOWRATE (13) 1 kg/s, 2 g/s, 3 lb/s, 4 kg/min,
**                                 5 g/min, 6 lb/min
**   VULMORA_QTY_PRESSURE (11)     not converted: always dyn/cm^2
** ==================================================================== */

#define VULMORA_QTY_TEMPERATURE (-1)
#define VULMORA_QTY_LENGTH 0
#define VULMORA_QTY_THERMALCONDUCTIVITY 3
#define VULMORA_QTY_TIME 4
#define VULMORA_QTY_HEATFLUX 6
#define VULMORA_QTY_HEATTRANSFERCOEFF 7
#define VULMORA_QTY_VELOCITY 8
#define VULMORA_QTY_PRESSURE 11
#define VULMORA_QTY_MASSFLOWRATE 13

/* x (in the user's unit of quantity `code`) in internal CGS/Kelvin units. */
double fconvertToCGS(int code, double x);
/* x (in internal CGS/Kelvin units) in the user's unit of quantity `code`. */
double fconvertFromCGS(int code, double x);
/* Temperature t in unit `unit` (1 K, 2 C, 3 F, 4 R; others: K) in Kelvin. */
double tempToKelvin(int unit, double t);
/* Temperature t in Kelvin in unit `unit` (1 K, 2 C, 3 F, 4 R; others: K). */
double tempFromKelvin(int unit, double t);

/* ======================================================================
** Counts and mesh
** ==================================================================== */

/* Number of nodes. */
int getNnod(void);
/* Number of velocity nodes. */
int getNvnod(void);
/* Number of elements. */
int getNel(void);
/* 1-based number of node k (1-based) of element e; 0 when e is outside
** 1..nel, k outside 1..nnod or beyond the nodes of e's type, or no
** connectivity or no element types (el_type) are set. */
int getElemNode(int k, int e);
/* Type code (0..11) of element e as stored; 0 when out of range or unset. */
int getElType(int e);
/* 1-based material number of element e; 0 when out of range or unset. */
int getMatId(int e);
/* Coordinates of node n in the user's length unit; 0.0 when n is outside
** 1..nnod or the coordinates are unset. */
double getX(int n);
double getY(int n);
double getZ(int n);
/* Volume of element e (as stored); 0.0 when e is outside 1..nel.
** Stops with "unavailable field in dll, i.e. : el_vol\n" when unset. */
double getElVol(int e);

/* ======================================================================
** Nodal fields (n = 1..nnod; 0.0 outside)
** The digit selects the time level: 0 previous, 1 current.
** ==================================================================== */

/* Temperature of node n in the user's temperature unit; 0.0 when unset. */
double getT0(int n);
double getT1(int n);
/* Solid fraction of node n (0..1); 0.0 when unset. */
double getFs0(int n);
double getFs1(int n);
/* Shrinkage-porosity field of node n.
** Stops with " vf_s1 unavailable field in dll\n" when unset. */
double getVfS0(int n);
double getVfS1(int n);
/* FVOL defect field of node n.
** Stops with " f_vol1 unavailable field in dll\n" when unset. */
double getFVol0(int n);
double getFVol1(int n);
/* Junction field pair of node n.
** Stops with "unavailable field in dll\n" when unset. */
double getJctn0(int n);
double getJctn1(int n);
/* Fatigue life of node n.
** Stops with "fatigue_life unavailable field in dll\n" when unset. */
double getFatigueLife(int n);

/* ======================================================================
** Velocity-node fields (n = 1..nvnod; 0.0 outside)
** ==================================================================== */

/* Velocity components of velocity node n in the user's velocity unit;
** 0.0 when unset. */
double getU0(int n);
double getV0(int n);
double getW0(int n);
double getU1(int n);
double getV1(int n);
double getW1(int n);
/* Mushy-zone strain of velocity node n; 0.0 when unset. */
double getMushyStrain(int n);
/* Pressure of velocity node n, as stored (not converted).
** Stop with "p0 : unavailable field in dll\n" / "p1 : ..." when unset. */
double getP0(int n);
double getP1(int n);

/* ======================================================================
** Element means of integration-point data (e = 1..nel; 0.0 outside)
** The mean is over the element's integration points (by its type); an
** element of a type without integration points (code 0) gives NaN.
** ==================================================================== */

/* Mean void fraction of element e.
** Stops with " fv_scale unavailable field in dll\n" when unset. */
double getFractionVoid(int e);
/* Mean of the strain field epstn_new over element e.
** Stops with " epstn_new unavailable field in dll\n" when unset. */
double getEpstn(int e);
/* Mean stress component 1..6 of element e, times the host's stress scale.
** Stop with "error : stress returning functions are intended for 3D cases
** only!\n" unless the host has six components per point, and with
** " strsg unavailable field in dll\n" when unset (tested in that order,
** before the element number). */
double getStress1(int e);
double getStress2(int e);
double getStress3(int e);
double getStress4(int e);
double getStress5(int e);
double getStress6(int e);

/* ======================================================================
** Nearest node
** ==================================================================== */

/* Number of the node nearest to the point (x, y, z), given in the user's
** length unit. material 0 searches all nodes (ties: lowest node number);
** any other m searches the nodes of the elements of material m (ties: the
** node examined last). Writes the found node's coordinates, in the user's
** length unit, to *xout, *yout and (3-D models only; may be NULL in 2-D)
** *zout. When no node is found (no nodes, no element of material m, only
** NaN or infinite distances), prints "internal error in nodNum function"
** without a newline, returns 0 and leaves the outputs untouched. */
int nodNum(double x, double y, double z, int material, double *xout, double *yout, double *zout);

/* nodNum for a mesh that does not move: the same arguments, node, tie
** rules, outputs and message, but each search costs about log(nnod)
** instead of a scan, and a repeated point is answered without searching.
** It keeps a spatial index of the searched nodes between calls (about 32
** bytes per node, built on the first call; up to four, for all nodes and
** for materials, side by side). The index is rebuilt whenever nnod,
** TWO_D, user_unit_coor, the material or the addresses of x_cord, y_cord,
** z_cord (and, for a material search, nel and the addresses of mat_id,
** el_type and ncon) differ from the call that built it.
** Do NOT use it when the host changes coordinates or connectivity in place
** (same addresses, same counts): a moving or deforming mesh, remeshing into
** the same arrays, a material assignment rewritten in place. It would
** answer for the old mesh; call nodNum there. It is not for concurrent
** calls from several threads. When memory for the index is lacking, the
** call is answered by nodNum's scan. */
int nodNumFixed(double x, double y, double z, int material, double *xout, double *yout,
                double *zout);

/* ======================================================================
** Microstructure and defects (mechanical properties)
** The host's mode decides the result: neutral mode gives 1.0; nodal mode
** the value at the current node; local mode the value the host copied for
** the stress analysis; registration mode records the request and gives 1.0.
** Registration and local mode stop with "mic_lastp unavailable field in
** dll\n" when the host has not set mic_lastp.
** ==================================================================== */

/* Fraction of the constituent of active index i (i >= 0) of the
** microstructure model. A negative i is the host's way of saying the
** constituent cannot be used: the call stops with a message saying why. */
double getFraction(int i);
/* Value of the auxiliary microstructure variable of active index i (i >= 0);
** a negative i stops like getFraction. */
double getMicro(int i);
/* Defect value: d = 1 shrinkage microporosity (POROS1), d = 2 FVOL.
** Stops for a negative d (model not activated), d = 0 or d > 2, and for FVOL
** in the stress analysis' registration and local modes. In nodal mode a
** field the host has not set stops as getVfS1 and getFVol1 do. */
double getDefect(int d);
/* Stops when the property being evaluated has no temperature table. */
void checkTempTable(void);

/* ======================================================================
** Stopping the run
** ==================================================================== */

/* Print `format` (printf-style, with its arguments) to stdout and end the
** process with exit status 1, as the accessors' own fatal checks do. */
VULMORA_NORETURN void vulmora_stop(const char *format, ...) VULMORA_PRINTF(1);

/* ======================================================================
** Outputs of user functions
** ==================================================================== */

/* func_mechprop1..5 may name their property (buffer N-1) and its unit. */
extern char name_mechprop[VULMORA_MECHPROP_COUNT][VULMORA_NAME_MECHPROP_LEN];
extern char unit_mechprop[VULMORA_MECHPROP_COUNT][VULMORA_UNIT_MECHPROP_LEN];
/* Control flags reset by func_externalcompute. */
extern int tnodecontrol, vnodecontrol;

/* ======================================================================
** The entry points
** One prototype per entry of vulmora_entry_points.h, where the 37 names and
** the mode each one is called in are listed: kind PROPERTY is
**     double func_<name>(int node);
** and func_externalcompute (kind STEP) is
**     void func_externalcompute(void *unused, int flag);
** A definition of yours with another signature does not compile in C;
** in C++, other parameters make another function, with C++ linkage, which
** vulmora_add_user_library reports.
** ==================================================================== */
#ifndef VULMORA_NO_ENTRY_PROTOTYPES
#define VULMORA_ENTRY_PROTOTYPES_DECLARED 1
#define VULMORA_PROTOTYPE_PROPERTY(name) double func_##name(int node);
#define VULMORA_PROTOTYPE_STEP(name) void func_##name(void *unused, int flag);
#define VULMORA_PROTOTYPE(name, kind, mode, quantity) VULMORA_PROTOTYPE_##kind(name)
VULMORA_ENTRY_POINTS(VULMORA_PROTOTYPE)
#undef VULMORA_PROTOTYPE
#undef VULMORA_PROTOTYPE_PROPERTY
#undef VULMORA_PROTOTYPE_STEP
#endif

#ifdef __cplusplus
}
#endif

#endif
