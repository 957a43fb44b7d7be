/*
** vulmora_layout.h - the fixed sizes and offsets of the exchange block, and
** the list of its exported variables.
**
** The library defines the block with these sizes, the host emulator fills
** it with them, and the tests and the export lists are made from the same
** list. Plain C and C++; it defines nothing but macros.
*/
#ifndef VULMORA_LAYOUT_H
#define VULMORA_LAYOUT_H

/* Number of element type codes (0 to 11) known to the per-type tables. */
#define VULMORA_NTYPES 12

/* ---- microstructure --------------------------------------------------- */
/* Active constituents and auxiliary variables the host can pass on. */
#define VULMORA_MAX_CONSTITUENTS 100
#define VULMORA_MAX_AUXILIARIES 100

/* The host's array behind mic_lastp: entries 0 and 1 (not used by the
** library), entry 2 (POROS1), one entry per constituent from entry 3, one
** per auxiliary variable after them. */
#define VULMORA_LASTP_POROS1 2
#define VULMORA_LASTP_CONSTITUENTS 3
#define VULMORA_LASTP_AUXILIARIES (VULMORA_LASTP_CONSTITUENTS + VULMORA_MAX_CONSTITUENTS)
#define VULMORA_LASTP_LEN (VULMORA_LASTP_AUXILIARIES + VULMORA_MAX_AUXILIARIES)

/* loc_micro: the constituents' values, then the auxiliary variables'. */
#define VULMORA_LOC_MICRO_CONSTITUENTS 0
#define VULMORA_LOC_MICRO_AUXILIARIES VULMORA_MAX_CONSTITUENTS
#define VULMORA_LOC_MICRO_LEN (VULMORA_MAX_CONSTITUENTS + VULMORA_MAX_AUXILIARIES)

/* ---- outputs of func_mechprop1..5 -------------------------------------- */
#define VULMORA_MECHPROP_COUNT 5
#define VULMORA_NAME_MECHPROP_LEN 101 /* bytes per name, NUL included */
#define VULMORA_UNIT_MECHPROP_LEN 21  /* bytes per unit, NUL included */

/* ---- the exported variables ------------------------------------------ */
/* VULMORA_EXCHANGE_DATA(X) expands X(name, bytes) once per variable of the
** block that the host writes or reads (bytes: its size on a 64-bit host);
** VULMORA_EXCHANGE_TABLES(X) the two read-only per-type tables. One entry a
** line: the CMake export lists are read from here. */
/* clang-format off */
#define VULMORA_EXCHANGE_DATA(X) \
    X(nnod, 4) \
    X(nvnod, 4) \
    X(nel, 4) \
    X(nstr1, 4) \
    X(TWO_D, 4) \
    X(cur_node, 4) \
    X(location, 4) \
    X(user_unit_temp, 4) \
    X(user_unit_coor, 4) \
    X(user_unit_thermalconductivity, 4) \
    X(user_unit_time, 4) \
    X(user_unit_heatflux, 4) \
    X(user_unit_heattransfercoeff, 4) \
    X(user_unit_velocity, 4) \
    X(user_unit_massflowrate, 4) \
    X(tnodecontrol, 4) \
    X(vnodecontrol, 4) \
    X(stress_scale, 8) \
    X(func_temp, 8) \
    X(loc_poro, 8) \
    X(el_type, 8) \
    X(mat_id, 8) \
    X(ncon, 8) \
    X(x_cord, 8) \
    X(y_cord, 8) \
    X(z_cord, 8) \
    X(el_vol, 8) \
    X(t0, 8) \
    X(t1, 8) \
    X(fs0, 8) \
    X(fs1, 8) \
    X(vf_s0, 8) \
    X(vf_s1, 8) \
    X(f_vol0, 8) \
    X(f_vol1, 8) \
    X(jctn0, 8) \
    X(jctn1, 8) \
    X(fatigue_life, 8) \
    X(u0, 8) \
    X(v0, 8) \
    X(w0, 8) \
    X(u1, 8) \
    X(v1, 8) \
    X(w1, 8) \
    X(p0, 8) \
    X(p1, 8) \
    X(mushy_strain, 8) \
    X(fraction_void, 8) \
    X(epstn_new, 8) \
    X(strsg, 8) \
    X(micModelsA, 8) \
    X(micCNTA, 8) \
    X(mic_lastp, 8) \
    X(loc_micro, VULMORA_LOC_MICRO_LEN * 8) \
    X(name_mechprop, VULMORA_MECHPROP_COUNT * VULMORA_NAME_MECHPROP_LEN) \
    X(unit_mechprop, VULMORA_MECHPROP_COUNT * VULMORA_UNIT_MECHPROP_LEN) \
    X(MgPhase, 24) \
    X(MgMicro, 48) \
    X(FePhase, 96) \
    X(FeMicro, 128) \
    X(AlPhase, 24) \
    X(AlMicro, 48) \
    X(NiPhase, 40) \
    X(NiMicro, 64) \
    X(TiPhase, 32) \
    X(TiMicro, 52) \
    X(UFPrefix, 200) \
    X(Defect, 8) \
    X(gap_cond, 20) \
    X(stefan, 8) \
    X(start_freezing, 8) \
    X(stop_freezing, 8) \
    X(mechPropFinalCall, 4) \
    X(fvol_calc, 8) \
    X(fv_scale, 8) \
    X(ntel, 8)
#define VULMORA_EXCHANGE_TABLES(X) \
    X(el_nnode, VULMORA_NTYPES * 4) \
    X(el_ngp, VULMORA_NTYPES * 4)
/* clang-format on */

#endif
