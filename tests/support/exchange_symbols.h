/*
** exchange_symbols.h - the exchange block every user-function library
** exports, with the smallest size in bytes the host relies on; the two
** per-type tables (el_nnode, el_ngp) are not listed. Plain C, shared by
** the Linux tests and the Windows test host:
**     #define ROW(name, size) ...
**     VULMORA_EXCHANGE_SYMBOLS(ROW)
*/
#ifndef VULMORA_TEST_EXCHANGE_SYMBOLS_H
#define VULMORA_TEST_EXCHANGE_SYMBOLS_H

#define VULMORA_EXCHANGE_SYMBOLS(X)                                                                \
    X(nnod, 4)                                                                                     \
    X(nvnod, 4)                                                                                    \
    X(nel, 4)                                                                                      \
    X(nstr1, 4)                                                                                    \
    X(TWO_D, 4)                                                                                    \
    X(cur_node, 4)                                                                                 \
    X(location, 4)                                                                                 \
    X(user_unit_temp, 4)                                                                           \
    X(user_unit_coor, 4)                                                                           \
    X(user_unit_thermalconductivity, 4)                                                            \
    X(user_unit_time, 4)                                                                           \
    X(user_unit_heatflux, 4)                                                                       \
    X(user_unit_heattransfercoeff, 4)                                                              \
    X(user_unit_velocity, 4)                                                                       \
    X(user_unit_massflowrate, 4)                                                                   \
    X(tnodecontrol, 4)                                                                             \
    X(vnodecontrol, 4)                                                                             \
    X(stress_scale, 8)                                                                             \
    X(func_temp, 8)                                                                                \
    X(loc_poro, 8)                                                                                 \
    X(el_type, 8)                                                                                  \
    X(mat_id, 8)                                                                                   \
    X(ncon, 8)                                                                                     \
    X(x_cord, 8)                                                                                   \
    X(y_cord, 8)                                                                                   \
    X(z_cord, 8)                                                                                   \
    X(el_vol, 8)                                                                                   \
    X(t0, 8)                                                                                       \
    X(t1, 8)                                                                                       \
    X(fs0, 8)                                                                                      \
    X(fs1, 8)                                                                                      \
    X(vf_s0, 8)                                                                                    \
    X(vf_s1, 8)                                                                                    \
    X(f_vol0, 8)                                                                                   \
    X(f_vol1, 8)                                                                                   \
    X(jctn0, 8)                                                                                    \
    X(jctn1, 8)                                                                                    \
    X(fatigue_life, 8)                                                                             \
    X(u0, 8)                                                                                       \
    X(v0, 8)                                                                                       \
    X(w0, 8)                                                                                       \
    X(u1, 8)                                                                                       \
    X(v1, 8)                                                                                       \
    X(w1, 8)                                                                                       \
    X(p0, 8)                                                                                       \
    X(p1, 8)                                                                                       \
    X(mushy_strain, 8)                                                                             \
    X(fraction_void, 8)                                                                            \
    X(epstn_new, 8)                                                                                \
    X(strsg, 8)                                                                                    \
    X(micModelsA, 8)                                                                               \
    X(micCNTA, 8)                                                                                  \
    X(mic_lastp, 8)                                                                                \
    X(loc_micro, 200 * 8)                                                                          \
    X(name_mechprop, 5 * 101)                                                                      \
    X(unit_mechprop, 5 * 21)                                                                       \
    X(MgPhase, 24)                                                                                 \
    X(MgMicro, 48)                                                                                 \
    X(FePhase, 96)                                                                                 \
    X(FeMicro, 128)                                                                                \
    X(AlPhase, 24)                                                                                 \
    X(AlMicro, 48)                                                                                 \
    X(NiPhase, 40)                                                                                 \
    X(NiMicro, 64)                                                                                 \
    X(TiPhase, 32)                                                                                 \
    X(TiMicro, 52)                                                                                 \
    X(UFPrefix, 200)                                                                               \
    X(Defect, 8)                                                                                   \
    X(gap_cond, 20)                                                                                \
    X(stefan, 8)                                                                                   \
    X(start_freezing, 8)                                                                           \
    X(stop_freezing, 8)                                                                            \
    X(mechPropFinalCall, 4)                                                                        \
    X(fvol_calc, 8)                                                                                \
    X(fv_scale, 8)                                                                                 \
    X(ntel, 8)

#endif
