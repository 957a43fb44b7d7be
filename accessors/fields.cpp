// fields.cpp - counts, connectivity, element data and nodal fields.
//
// Every accessor reads the exchange block afresh, tests the pointer and the
// 1-based number, and reads entry number - 1. Two families:
//   tolerant: a null field reads as 0 like an out-of-range number;
//   strict:   a null field is fatal, tested before the number, so a missing
//             field stops the process even for an out-of-range number.
// Temperatures, coordinates and velocities come back in the user's units.

#include "../include/vulmora/getVar.h"

#include "../exchange/exchange.h"
#include "../runtime/messages.h"
#include "../runtime/stop.h"
#include "../units/units.h"
#include "mesh.h"
#include "vulmora_probe.h"

#include <climits>

namespace {

// ---- helpers ----------------------------------------------------------------

// True when the 1-based number n given to `accessor` lies in 1..count
// (counted for the emulator when not).
inline bool inRange(int n, int count, const char *accessor) {
    if (n >= 1 && n <= count) return true;
    vulmora_probe_out_of_range(accessor, n);
    return false;
}

// True when the host set the field (counted for the emulator when not).
inline bool isSet(const void *field) {
    if (field != nullptr) return true;
    vulmora_probe_note(VULMORA_PROBE_UNSET_FIELD);
    return false;
}

// Entry n - 1 of a float field widened to double; 0.0 when the field is
// null or n lies outside 1..count.
inline double floatAt(const float *field, int n, int count, const char *accessor) {
    if (!isSet(field) || !inRange(n, count, accessor)) return 0.0;
    return static_cast<double>(field[n - 1]);
}

// Entry n - 1 of a nodal field converted from internal units with quantity
// `code`; 0.0 (unconverted) when null or out of range.
inline double convertedAt(const float *field, int n, int count, int code, const char *accessor) {
    if (!isSet(field) || !inRange(n, count, accessor)) return 0.0;
    return fconvertFromCGS(code, static_cast<double>(field[n - 1]));
}

// Coordinate of node n in the user's length unit; 0.0 when null or out of
// range.
inline double coordAt(const double *coord, int n, const char *accessor) {
    if (!isSet(coord) || !inRange(n, nnod, accessor)) return 0.0;
    return fconvertFromCGS(VULMORA_QTY_LENGTH, coord[n - 1]);
}

// The 1-based number of a 0-based host index. INT_MAX has none (its
// successor does not fit an int): like any other "none", it reads as 0.
inline int oneBased(int index) {
    return index == INT_MAX ? 0 : index + 1;
}

} // namespace

extern "C" {

// ---- counts -----------------------------------------------------------------

int getNnod(void) {
    return nnod;
}
int getNvnod(void) {
    return nvnod;
}
int getNel(void) {
    return nel;
}

// ---- mesh ---------------------------------------------------------------------

// Node k of element e, 1-based. Beyond the element's own node list (k above
// the node count of its type, an unknown or unset type, an unset list)
// there is nothing to read, so the answer is 0 like any other "none".
int getElemNode(int k, int e) {
    int *const *conn = ncon;
    if (!isSet(conn) || !inRange(e, nel, __func__) || !inRange(k, nnod, __func__)) return 0;
    const int *types = el_type;
    if (types == nullptr || k > vulmora::typeNodes(types[e - 1])) return 0;
    const int *list = conn[e - 1];
    if (list == nullptr) return 0;
    return oneBased(list[k - 1]);
}

// Type code of element e as stored.
int getElType(int e) {
    const int *types = el_type;
    if (!isSet(types) || !inRange(e, nel, __func__)) return 0;
    return types[e - 1];
}

// 1-based material number of element e.
int getMatId(int e) {
    const int *mats = mat_id;
    if (!isSet(mats) || !inRange(e, nel, __func__)) return 0;
    return oneBased(mats[e - 1]);
}

// Coordinates of node n in the user's length unit.
double getX(int n) {
    return coordAt(x_cord, n, __func__);
}
double getY(int n) {
    return coordAt(y_cord, n, __func__);
}
double getZ(int n) {
    return coordAt(z_cord, n, __func__);
}

// Volume of element e, as stored (strict).
double getElVol(int e) {
    const float *vol = el_vol;
    if (vol == nullptr) vulmora_stop(VULMORA_MSG_EL_VOL);
    return floatAt(vol, e, nel, __func__);
}

// ---- nodal fields (tolerant) --------------------------------------------------

// Temperatures in the user's temperature unit.
double getT0(int n) {
    return convertedAt(t0, n, nnod, VULMORA_QTY_TEMPERATURE, __func__);
}
double getT1(int n) {
    return convertedAt(t1, n, nnod, VULMORA_QTY_TEMPERATURE, __func__);
}

// Solid fractions, as stored.
double getFs0(int n) {
    return floatAt(fs0, n, nnod, __func__);
}
double getFs1(int n) {
    return floatAt(fs1, n, nnod, __func__);
}

// ---- nodal fields (strict) ----------------------------------------------------
// Each pair of time levels shares its partner's message.

double getVfS0(int n) {
    const float *f = vf_s0;
    if (f == nullptr) vulmora_stop(VULMORA_MSG_VF_S);
    return floatAt(f, n, nnod, __func__);
}
double getVfS1(int n) {
    const float *f = vf_s1;
    if (f == nullptr) vulmora_stop(VULMORA_MSG_VF_S);
    return floatAt(f, n, nnod, __func__);
}
double getFVol0(int n) {
    const float *f = f_vol0;
    if (f == nullptr) vulmora_stop(VULMORA_MSG_F_VOL);
    return floatAt(f, n, nnod, __func__);
}
double getFVol1(int n) {
    const float *f = f_vol1;
    if (f == nullptr) vulmora_stop(VULMORA_MSG_F_VOL);
    return floatAt(f, n, nnod, __func__);
}
double getJctn0(int n) {
    const float *f = jctn0;
    if (f == nullptr) vulmora_stop(VULMORA_MSG_JCTN);
    return floatAt(f, n, nnod, __func__);
}
double getJctn1(int n) {
    const float *f = jctn1;
    if (f == nullptr) vulmora_stop(VULMORA_MSG_JCTN);
    return floatAt(f, n, nnod, __func__);
}
double getFatigueLife(int n) {
    const float *f = fatigue_life;
    if (f == nullptr) vulmora_stop(VULMORA_MSG_FATIGUE_LIFE);
    return floatAt(f, n, nnod, __func__);
}

// ---- velocity-node fields -----------------------------------------------------

// Velocity components in the user's velocity unit (tolerant).
double getU0(int n) {
    return convertedAt(u0, n, nvnod, VULMORA_QTY_VELOCITY, __func__);
}
double getV0(int n) {
    return convertedAt(v0, n, nvnod, VULMORA_QTY_VELOCITY, __func__);
}
double getW0(int n) {
    return convertedAt(w0, n, nvnod, VULMORA_QTY_VELOCITY, __func__);
}
double getU1(int n) {
    return convertedAt(u1, n, nvnod, VULMORA_QTY_VELOCITY, __func__);
}
double getV1(int n) {
    return convertedAt(v1, n, nvnod, VULMORA_QTY_VELOCITY, __func__);
}
double getW1(int n) {
    return convertedAt(w1, n, nvnod, VULMORA_QTY_VELOCITY, __func__);
}

// Mushy-zone strain, as stored (tolerant).
double getMushyStrain(int n) {
    return floatAt(mushy_strain, n, nvnod, __func__);
}

// Pressures (strict). The pressure code converts nothing; the call keeps
// the accessor on the converter like every other physical field.
double getP0(int n) {
    const float *f = p0;
    if (f == nullptr) vulmora_stop(VULMORA_MSG_P0);
    return convertedAt(f, n, nvnod, VULMORA_QTY_PRESSURE, __func__);
}
double getP1(int n) {
    const float *f = p1;
    if (f == nullptr) vulmora_stop(VULMORA_MSG_P1);
    return convertedAt(f, n, nvnod, VULMORA_QTY_PRESSURE, __func__);
}

} // extern "C"
