// exchange.cpp - definitions of the exported exchange block.
//
// Every variable lives in zero-initialised storage and has a constant
// initialiser, so loading the library runs no code of ours: before the host
// writes anything, every count, selector and flag reads 0 and every pointer
// reads null. Only the two per-type tables carry values.

#include "exchange.h"
#include "export.h"

#include <cstdint>

#define X VULMORA_EXPORT

extern "C" {

// ---- counts, flags and selectors ---------------------------------------
X int nnod, nvnod, nel, nstr1, TWO_D, cur_node, location;
X int user_unit_temp, user_unit_coor, user_unit_thermalconductivity;
X int user_unit_time, user_unit_heatflux, user_unit_heattransfercoeff;
X int user_unit_velocity, user_unit_massflowrate;
X int tnodecontrol, vnodecontrol;

// ---- scalars -------------------------------------------------------------
X double stress_scale, func_temp, loc_poro;

// ---- mesh ----------------------------------------------------------------
X int *el_type, *mat_id;
X int **ncon;
X double *x_cord, *y_cord, *z_cord;
X float *el_vol;

// ---- nodal and velocity-node fields -----------------------------------------
X float *t0, *t1, *fs0, *fs1, *vf_s0, *vf_s1, *f_vol0, *f_vol1;
X float *jctn0, *jctn1, *fatigue_life;
X float *u0, *v0, *w0, *u1, *v1, *w1, *p0, *p1, *mushy_strain;

// ---- integration-point fields ---------------------------------------------
X float *fraction_void, *epstn_new, *strsg;

// ---- microstructure --------------------------------------------------------
X void *micModelsA, *micCNTA;
X int *mic_lastp;
X double loc_micro[VULMORA_LOC_MICRO_LEN];

// ---- outputs of user functions ---------------------------------------------
X char name_mechprop[VULMORA_MECHPROP_COUNT][VULMORA_NAME_MECHPROP_LEN];
X char unit_mechprop[VULMORA_MECHPROP_COUNT][VULMORA_UNIT_MECHPROP_LEN];

// ---- storage laid out for the host -----------------------------------------
X char MgPhase[24], MgMicro[48], FePhase[96], FeMicro[128];
X char AlPhase[24], AlMicro[48], NiPhase[40], NiMicro[64];
X char TiPhase[32], TiMicro[52], UFPrefix[200], gap_cond[20];
X double Defect, stefan, start_freezing, stop_freezing, fvol_calc, fv_scale;
X int mechPropFinalCall;
X long long ntel;

// ---- fixed per-type tables -------------------------------------------------
// Type codes 2, 10 and 11 have fewer integration points than nodes.
X extern const int el_nnode[VULMORA_NTYPES] = {0, 8, 4, 6, 8, 6, 4, 3, 4, 2, 10, 12};
X extern const int el_ngp[VULMORA_NTYPES] = {0, 8, 1, 6, 8, 6, 4, 3, 4, 2, 4, 8};

} // extern "C"

// Every definition above has the size the layout's list gives it.
#if UINTPTR_MAX == 0xFFFFFFFFFFFFFFFFu
#define VULMORA_SIZE_CHECK(name, bytes) static_assert(sizeof(name) == (bytes), #name);
VULMORA_EXCHANGE_DATA(VULMORA_SIZE_CHECK)
VULMORA_EXCHANGE_TABLES(VULMORA_SIZE_CHECK)
#undef VULMORA_SIZE_CHECK
#endif
