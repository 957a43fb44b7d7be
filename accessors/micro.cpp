// micro.cpp - microstructure and defect accessors.
//
// getFraction, getMicro and getDefect answer according to the host's mode
// in `location`: neutral (1.0), nodal (the microstructure library or the
// host's nodal defect arrays at cur_node), local (the values the host
// copied into loc_micro / loc_poro for the stress analysis) and
// registration (mark the quantity in the host's mic_lastp array, 1.0).
// Codes that name no usable quantity stop the run with a message saying
// why; those tests come before the mode is read, so they hold in every
// mode. checkTempTable stops when the property has no temperature table.
//
// The four microstructure look-ups are ordinary imports of libMikral (or
// of the site's own library that replaces it), resolved by the loader.

#include "../include/vulmora/getVar.h"

#include "../exchange/exchange.h"
#include "../mikral/mikral.h"
#include "../runtime/messages.h"
#include "../runtime/stop.h"
#include "../runtime/capture.h"
#include "vulmora_probe.h"

#include <cstddef>

namespace {

// ======================================================================
// Codes and layout
// ======================================================================

// Values of `location`.
constexpr int kModeNeutral = 0;
constexpr int kModeNodal = 1;
constexpr int kModeLocal = 2;
constexpr int kModeRegister = -1;

// Negative indices with a meaning of their own.
constexpr int kMicroOff = -99999;  // the microstructure module is off
constexpr int kOtherClass = -9999; // the property's material class differs

// Defect codes.
constexpr int kPoros1 = 1;
constexpr int kFvol = 2;

// Entries of the host's mic_lastp array.
constexpr std::size_t kPoros1Entry = VULMORA_LASTP_POROS1;
constexpr std::size_t kConstituentEntry = VULMORA_LASTP_CONSTITUENTS; // active constituent 0
constexpr std::size_t kAuxiliaryEntry = VULMORA_LASTP_AUXILIARIES;    // active variable 0

// Where the auxiliary-variable values start in loc_micro.
constexpr std::size_t kAuxiliaryValues = VULMORA_LOC_MICRO_AUXILIARIES;

// The host marks a missing temperature table with this value.
constexpr double kNoTempTable = -9999.0;

// Printed for %s when the microstructure library has no name to give.
constexpr const char *kNoName = "(unnamed)";
// Printed for %s for a "not activated" defect code with no name (below -2).
constexpr const char *kUnknownDefect = "an unknown defect";

// Names of the defects, by code - 1: fixed 50-byte slots, NUL-filled.
constexpr std::size_t kDefectNameLen = 50;
constexpr char defect_name[2][kDefectNameLen] = {"POROS1 shrinkage microporosity", "FVOL"};

// ======================================================================
// Shared steps
// ======================================================================

// The two kinds of microstructure quantity; getFraction and getMicro share
// every step and differ only in the look-ups, messages and layout below.
enum Kind { kConstituent = 0, kAuxiliary = 1 };

constexpr const char *kInactive[2] = {VULMORA_MSG_CONSTITUENT_INACTIVE, VULMORA_MSG_AUX_INACTIVE};
// mic_lastp entry of active index 0.
constexpr std::size_t kFirstEntry[2] = {kConstituentEntry, kAuxiliaryEntry};
// loc_micro element of slot 0.
constexpr std::size_t kFirstValue[2] = {VULMORA_LOC_MICRO_CONSTITUENTS, kAuxiliaryValues};

// The host's mic_lastp array, where registration and local mode need it: a
// host that has not set it gets a stop, not a crash.
int *lastp() {
    if (mic_lastp == nullptr) vulmora_stop(VULMORA_MSG_MIC_LASTP);
    return mic_lastp;
}

// Name of global index g, from the microstructure library. The imports are
// called directly (not through pointers) so that they stay plain imports
// on every platform.
const char *nameOf(Kind kind, int g) {
    const char *name = kind == kConstituent ? micCNT_GindToName_CNT(micCNTA, g)
                                            : micCNT_GindToName_Aux(micCNTA, g);
    vulmora_capture_name(kind, g, name); // kept for a replay when capturing
    return name;
}

// Value of active index i at node cur_node, from the microstructure
// library; the node index is handed over as the host wrote it. Nothing is
// done with the value but to return it (and note it when capturing).
double valueOf(Kind kind, int i) {
    const int node = cur_node;
    const double v = kind == kConstituent ? micModels_gCNTibyAind_checkIndices(micModelsA, i, node)
                                          : micModels_vAuxibyAind_checkIndices(micModelsA, i, node);
    vulmora_capture_micro(kind, i, node, v); // kept for a replay when capturing
    return v;
}

// A name fit to print: the library may have none for the index.
const char *printable(const char *name) {
    return name ? name : kNoName;
}

// Stop for a negative index: the module is off, the material class is not
// the model's, or the quantity of global index ~i is not active. ~i is
// -1 - i without overflow, so even INT_MIN maps to a valid index.
[[noreturn]] void refuse(Kind kind, int i) {
    if (i == kMicroOff) vulmora_stop(VULMORA_MSG_MICRO_OFF);
    if (i == kOtherClass) vulmora_stop(VULMORA_MSG_MICRO_CLASS);
    vulmora_stop(kInactive[kind], printable(nameOf(kind, ~i)));
}

// Active indices the host's mic_lastp table has room for, per kind.
constexpr int kTableEntries = 100;

// Stop for an index beyond the host's table: it comes from user code, and
// the registration and local modes would mark or read outside the table.
void checkTableIndex(Kind kind, int i) {
    if (i < kTableEntries) return;
    if (kind == kConstituent) vulmora_stop(VULMORA_MSG_CONSTITUENT_INDEX, i, kTableEntries);
    vulmora_stop(VULMORA_MSG_AUX_INDEX, i, kTableEntries);
}

// Value of active index i (the caller has refused negative ones) in the
// current mode. The host guarantees that the slots it wrote lie within
// loc_micro.
double lookUp(Kind kind, int i) {
    const std::size_t entry = kFirstEntry[kind] + static_cast<std::size_t>(i);
    switch (location) {
    case kModeNeutral:
        return 1.0;
    case kModeRegister:
        checkTableIndex(kind, i);
        lastp()[entry] = 1;
        return 1.0;
    case kModeNodal:
        return valueOf(kind, i);
    case kModeLocal: {
        checkTableIndex(kind, i);
        const double v = loc_micro[kFirstValue[kind] + static_cast<std::size_t>(lastp()[entry])];
        if (v != v) vulmora_probe_local_nan(v);
        return v;
    }
    default: // the texts go straight in as formats, so each call names its own
        if (kind == kConstituent) vulmora_stop(VULMORA_MSG_FRACTION_MODE);
        vulmora_stop(VULMORA_MSG_MICRO_MODE);
    }
}

// ======================================================================
// Defects
// ======================================================================

// Name printed for the "not activated" code d < 0.
const char *defectName(int d) {
    const int slot = ~d; // -1 - d, without overflow
    return slot < 2 ? defect_name[slot] : kUnknownDefect;
}

// Value of POROS1 (d = 1) or FVOL (d = 2) in the current mode.
double defectValue(int d) {
    switch (location) {
    case kModeNeutral:
        return 1.0;
    case kModeRegister:
        if (d == kFvol) vulmora_stop(VULMORA_MSG_FVOL_REGISTRATION);
        lastp()[kPoros1Entry] = 1;
        return 1.0;
    case kModeNodal: // a missing field stops as its own accessor does
        if (d == kPoros1) {
            if (vf_s1 == nullptr) vulmora_stop(VULMORA_MSG_VF_S);
            return static_cast<double>(vf_s1[cur_node]);
        }
        if (f_vol1 == nullptr) vulmora_stop(VULMORA_MSG_F_VOL);
        return static_cast<double>(f_vol1[cur_node]);
    case kModeLocal:
        if (d == kFvol) vulmora_stop(VULMORA_MSG_FVOL_LOCAL);
        if (loc_poro != loc_poro) vulmora_probe_local_nan(loc_poro);
        return loc_poro;
    default:
        vulmora_stop(VULMORA_MSG_DEFECT_MODE);
    }
}

} // namespace

extern "C" {

// ======================================================================
// The accessors
// ======================================================================

// Fraction of the constituent of active index i.
double getFraction(int i) {
    if (i < 0) refuse(kConstituent, i);
    return lookUp(kConstituent, i);
}

// Value of the auxiliary microstructure variable of active index i.
double getMicro(int i) {
    if (i < 0) refuse(kAuxiliary, i);
    return lookUp(kAuxiliary, i);
}

// Value of defect d: 1 POROS1, 2 FVOL; negative codes are defects whose
// model is off, 0 and codes above 2 name no defect.
double getDefect(int d) {
    if (d < 0) vulmora_stop(VULMORA_MSG_DEFECT_INACTIVE, defectName(d));
    if (d != kPoros1 && d != kFvol) vulmora_stop(VULMORA_MSG_DEFECT_UNAUTHORIZED);
    return defectValue(d);
}

// Stop when the host marked the property's temperature table as missing.
// The comparison is exact: any other value, NaN included, passes.
void checkTempTable(void) {
    if (func_temp == kNoTempTable) vulmora_stop(VULMORA_MSG_TEMP_TABLE);
}

} // extern "C"
