# VulmoraExports.cmake - the exported surface of every user-function library.
#
# These lists are the whole dynamic interface: the entry points the host
# resolves by name, the two converters and the exchange block. The linker's
# export list (version script or module-definition file) is made from them,
# so nothing else can leak out and no entry point can be left out.

# The 36 entry points that have a placeholder in the template.
set(VULMORA_PLACEHOLDER_ENTRY_POINTS
    func_convehtransfer func_density func_emissivity func_hardeningexponent
    func_hardeningkinematic1 func_hardeningkinematic2 func_hardeningplasticmodulus
    func_hardeningultimatestress func_heatflux func_interhtransfer func_masssourceflowrate
    func_mechprop1 func_mechprop2 func_mechprop3 func_mechprop4 func_mechprop5
    func_poissonratio func_texternal func_thermalexpansion func_viscoplasticstrainpower
    func_viscoplasticstresspower func_viscoplasticviscousparam func_vximposed
    func_vxsolidtransport func_vyimposed func_vysolidtransport func_vzimposed
    func_vzsolidtransport func_xmasssource func_xtranslation func_yieldstress
    func_ymasssource func_youngsmodulus func_ytranslation func_zmasssource func_ztranslation)

# All 37 entry points.
set(VULMORA_ENTRY_POINTS ${VULMORA_PLACEHOLDER_ENTRY_POINTS} func_externalcompute)

set(VULMORA_EXPORTED_FUNCTIONS ${VULMORA_ENTRY_POINTS} fconvertToCGS fconvertFromCGS)

# The exchange block, exported as data.
set(VULMORA_EXPORTED_DATA
    nnod nvnod nel nstr1 TWO_D cur_node location
    user_unit_temp user_unit_coor user_unit_thermalconductivity user_unit_time
    user_unit_heatflux user_unit_heattransfercoeff user_unit_velocity user_unit_massflowrate
    tnodecontrol vnodecontrol
    stress_scale func_temp loc_poro
    el_type mat_id ncon x_cord y_cord z_cord el_vol
    t0 t1 fs0 fs1 vf_s0 vf_s1 f_vol0 f_vol1 jctn0 jctn1 fatigue_life
    u0 v0 w0 u1 v1 w1 p0 p1 mushy_strain
    fraction_void epstn_new strsg
    micModelsA micCNTA mic_lastp loc_micro
    name_mechprop unit_mechprop
    MgPhase MgMicro FePhase FeMicro AlPhase AlMicro NiPhase NiMicro TiPhase TiMicro
    UFPrefix Defect gap_cond stefan start_freezing stop_freezing mechPropFinalCall
    fvol_calc fv_scale ntel
    el_nnode el_ngp)
