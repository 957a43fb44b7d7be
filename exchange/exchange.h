/*
** exchange.h - the host exchange block, as the library's own code sees it.
**
** The host resolves every variable below by name after loading the library
** and writes its state into them before each call of a user function. All
** arrays behind the pointers belong to the host and are indexed from 0; the
** library reads them during a call and keeps no pointer between calls.
**
** User code does not include this file: it reads the block through the
** accessors of getVar.h.
*/
#ifndef VULMORA_EXCHANGE_H
#define VULMORA_EXCHANGE_H

#include "../include/vulmora/vulmora_layout.h"
#include "export.h"

#ifdef __cplusplus
extern "C" {
#endif

/* ---- counts, flags and selectors ------------------------------------ */
VULMORA_EXPORT extern int nnod, nvnod, nel, nstr1, TWO_D, cur_node, location;
VULMORA_EXPORT extern int user_unit_temp, user_unit_coor, user_unit_thermalconductivity;
VULMORA_EXPORT extern int user_unit_time, user_unit_heatflux, user_unit_heattransfercoeff;
VULMORA_EXPORT extern int user_unit_velocity, user_unit_massflowrate;
VULMORA_EXPORT extern int tnodecontrol, vnodecontrol; /* written by the library only */

/* ---- scalars ---------------------------------------------------------- */
VULMORA_EXPORT extern double stress_scale, func_temp, loc_poro;

/* ---- mesh ------------------------------------------------------------- */
VULMORA_EXPORT extern int *el_type, *mat_id;
VULMORA_EXPORT extern int **ncon;
VULMORA_EXPORT extern double *x_cord, *y_cord, *z_cord;
VULMORA_EXPORT extern float *el_vol;

/* ---- nodal fields (nnod entries) and velocity-node fields (nvnod) ---- */
VULMORA_EXPORT extern float *t0, *t1, *fs0, *fs1, *vf_s0, *vf_s1, *f_vol0, *f_vol1;
VULMORA_EXPORT extern float *jctn0, *jctn1, *fatigue_life;
VULMORA_EXPORT extern float *u0, *v0, *w0, *u1, *v1, *w1, *p0, *p1, *mushy_strain;

/* ---- integration-point fields ---------------------------------------- */
VULMORA_EXPORT extern float *fraction_void, *epstn_new, *strsg;

/* ---- microstructure --------------------------------------------------- */
VULMORA_EXPORT extern void *micModelsA, *micCNTA;
VULMORA_EXPORT extern int *mic_lastp;
VULMORA_EXPORT extern double loc_micro[VULMORA_LOC_MICRO_LEN];

/* ---- outputs of user functions --------------------------------------- */
VULMORA_EXPORT extern char name_mechprop[VULMORA_MECHPROP_COUNT][VULMORA_NAME_MECHPROP_LEN];
VULMORA_EXPORT extern char unit_mechprop[VULMORA_MECHPROP_COUNT][VULMORA_UNIT_MECHPROP_LEN];

/* ---- storage laid out for the host; the library never touches it ----- */
VULMORA_EXPORT extern char MgPhase[24], MgMicro[48], FePhase[96], FeMicro[128];
VULMORA_EXPORT extern char AlPhase[24], AlMicro[48], NiPhase[40], NiMicro[64];
VULMORA_EXPORT extern char TiPhase[32], TiMicro[52], UFPrefix[200], gap_cond[20];
VULMORA_EXPORT extern double Defect, stefan, start_freezing, stop_freezing, fvol_calc, fv_scale;
VULMORA_EXPORT extern int mechPropFinalCall;
VULMORA_EXPORT extern long long ntel;

/* ---- fixed per-type tables (read-only) ------------------------------- */
VULMORA_EXPORT extern const int el_nnode[VULMORA_NTYPES]; /* nodes per element type */
VULMORA_EXPORT extern const int el_ngp[VULMORA_NTYPES];   /* integration points per type */

#ifdef __cplusplus
}
#endif

#endif
