// block.cpp - resolving and filling the exchange block.
#include "model/binding.h"

#include <filesystem>

#include "platform/platform.h"
#include "model/sample.h"
#include "replay/state.h"
#include "exchange/exchange.h"

#include <cstring>

namespace vhost {

namespace fs = std::filesystem;

// ---- resolving ---------------------------------------------------------------

namespace {

// Every exported variable of the layout's list, by name.
enum class Var : size_t {
#define VHOST_VAR(name, bytes) name,
    VULMORA_EXCHANGE_DATA(VHOST_VAR) VULMORA_EXCHANGE_TABLES(VHOST_VAR)
#undef VHOST_VAR
};
constexpr const char *kVarNames[] = {
#define VHOST_VAR(name, bytes) #name,
    VULMORA_EXCHANGE_DATA(VHOST_VAR) VULMORA_EXCHANGE_TABLES(VHOST_VAR)
#undef VHOST_VAR
};

} // namespace

// The library and every exchange variable; a missing name means the file
// was not built with vulmora_add_user_library.
bool Library::open(const std::string &path, std::string &error) {
    handle_ = platform::loadLibrary(path, error);
    if (!handle_) return false;
    void *addr[std::size(kVarNames)];
    for (size_t k = 0; k < std::size(kVarNames); ++k) {
        addr[k] = platform::findSymbol(handle_, kVarNames[k]);
        if (!addr[k]) {
            error = "'" + path + "' is not a user-function library: it does not export '" +
                    kVarNames[k] + "'";
            return false;
        }
    }
    // The variables the emulator writes or reads.
    Exchange &b = x;
    struct Slot {
        Var var;
        void *target;
    };
    const Slot slots[] = {
        {Var::nnod, &b.nnod},
        {Var::nvnod, &b.nvnod},
        {Var::nel, &b.nel},
        {Var::nstr1, &b.nstr1},
        {Var::TWO_D, &b.twoD},
        {Var::cur_node, &b.curNode},
        {Var::location, &b.location},
        {Var::user_unit_temp, &b.unitTemp},
        {Var::user_unit_coor, &b.unitCoor},
        {Var::user_unit_thermalconductivity, &b.unitConductivity},
        {Var::user_unit_time, &b.unitTime},
        {Var::user_unit_heatflux, &b.unitHeatflux},
        {Var::user_unit_heattransfercoeff, &b.unitHtc},
        {Var::user_unit_velocity, &b.unitVelocity},
        {Var::user_unit_massflowrate, &b.unitMassflow},
        {Var::tnodecontrol, &b.tnodecontrol},
        {Var::vnodecontrol, &b.vnodecontrol},
        {Var::stress_scale, &b.stressScale},
        {Var::func_temp, &b.funcTemp},
        {Var::loc_poro, &b.locPoro},
        {Var::el_type, &b.elType},
        {Var::mat_id, &b.matId},
        {Var::ncon, &b.ncon},
        {Var::x_cord, &b.x},
        {Var::y_cord, &b.y},
        {Var::z_cord, &b.z},
        {Var::el_vol, &b.elVol},
        {Var::t0, &b.t0},
        {Var::t1, &b.t1},
        {Var::fs0, &b.fs0},
        {Var::fs1, &b.fs1},
        {Var::vf_s0, &b.vf0},
        {Var::vf_s1, &b.vf1},
        {Var::f_vol0, &b.fvol0},
        {Var::f_vol1, &b.fvol1},
        {Var::jctn0, &b.jctn0},
        {Var::jctn1, &b.jctn1},
        {Var::fatigue_life, &b.fatigue},
        {Var::u0, &b.u0},
        {Var::v0, &b.v0},
        {Var::w0, &b.w0},
        {Var::u1, &b.u1},
        {Var::v1, &b.v1},
        {Var::w1, &b.w1},
        {Var::p0, &b.p0},
        {Var::p1, &b.p1},
        {Var::mushy_strain, &b.mushy},
        {Var::fraction_void, &b.fractionVoid},
        {Var::epstn_new, &b.epstn},
        {Var::strsg, &b.strsg},
        {Var::micModelsA, &b.micModels},
        {Var::micCNTA, &b.micCnt},
        {Var::mic_lastp, &b.micLastp},
        {Var::loc_micro, &b.locMicro},
        {Var::name_mechprop, &b.nameMechprop},
        {Var::unit_mechprop, &b.unitMechprop},
        {Var::el_nnode, &b.elNnode},
        {Var::el_ngp, &b.elNgp},
    };
    for (const Slot &s : slots)
        *static_cast<void **>(s.target) = addr[static_cast<size_t>(s.var)];
    for (size_t k = 0; k < std::size(kEntryPoints); ++k) {
        std::string name = std::string("func_") + kEntryPoints[k].name;
        entries_[k] = reinterpret_cast<PropertyFn>(platform::findSymbol(handle_, name.c_str()));
    }
    externalcompute =
        reinterpret_cast<ExternalFn>(platform::findSymbol(handle_, "func_externalcompute"));
    fromCGS = reinterpret_cast<ConvertFn>(platform::findSymbol(handle_, "fconvertFromCGS"));
    path_ = path;
    return true;
}

// Linear search over the property entry points; called once per entry point.
PropertyFn Library::entry(const std::string &name) const {
    for (size_t k = 0; k < std::size(kEntryPoints); ++k)
        if (name == kEntryPoints[k].name) return entries_[k];
    return nullptr;
}

// ---- filling -----------------------------------------------------------------

// Counts, selectors, scalars and pointers into the sample's arrays.
void Library::bind(Sample &s, const Options &o) {
    *x.nnod = s.nnod;
    *x.nvnod = s.nnod;
    *x.nel = s.nel;
    *x.nstr1 = 6;
    *x.twoD = 0;
    *x.curNode = 0;
    *x.location = 0;
    const Units &u = o.units;
    *x.unitTemp = u.temp, *x.unitCoor = u.coor, *x.unitConductivity = u.thermalconductivity;
    *x.unitTime = u.time, *x.unitHeatflux = u.heatflux, *x.unitHtc = u.heattransfercoeff;
    *x.unitVelocity = u.velocity, *x.unitMassflow = u.massflowrate;
    *x.stressScale = o.stressScale;
    *x.funcTemp = o.tempTable ? 0.0 : -9999.0;
    *x.locPoro = 0.0;
    *x.elType = s.elType.data(), *x.matId = s.matId.data(), *x.ncon = s.ncon.data();
    *x.x = s.x.data(), *x.y = s.y.data(), *x.z = s.z.data(), *x.elVol = s.elVol.data();
    *x.t0 = s.t0.data(), *x.t1 = s.t1.data(), *x.fs0 = s.fs0.data(), *x.fs1 = s.fs1.data();
    *x.vf0 = s.vf0.data(), *x.vf1 = s.vf1.data();
    *x.fvol0 = s.fvol0.data(), *x.fvol1 = s.fvol1.data();
    *x.jctn0 = s.jctn0.data(), *x.jctn1 = s.jctn1.data(), *x.fatigue = s.fatigue.data();
    *x.u0 = s.u0.data(), *x.v0 = s.v0.data(), *x.w0 = s.w0.data();
    *x.u1 = s.u1.data(), *x.v1 = s.v1.data(), *x.w1 = s.w1.data();
    *x.p0 = s.p0.data(), *x.p1 = s.p1.data(), *x.mushy = s.mushy.data();
    *x.fractionVoid = s.fractionVoid.data(), *x.epstn = s.epstn.data();
    *x.strsg = s.strsg.data();
    *x.micModels = s.model;
    *x.micCnt = s.catalog;
}

// ---- states ------------------------------------------------------------------

namespace {

// The float arrays of the block and their sections.
struct FloatField {
    int section;
    float **Exchange::*field;
};
constexpr FloatField kFloatFields[] = {
    {VULMORA_SECTION_t0, &Exchange::t0},
    {VULMORA_SECTION_t1, &Exchange::t1},
    {VULMORA_SECTION_fs0, &Exchange::fs0},
    {VULMORA_SECTION_fs1, &Exchange::fs1},
    {VULMORA_SECTION_vf_s0, &Exchange::vf0},
    {VULMORA_SECTION_vf_s1, &Exchange::vf1},
    {VULMORA_SECTION_f_vol0, &Exchange::fvol0},
    {VULMORA_SECTION_f_vol1, &Exchange::fvol1},
    {VULMORA_SECTION_jctn0, &Exchange::jctn0},
    {VULMORA_SECTION_jctn1, &Exchange::jctn1},
    {VULMORA_SECTION_fatigue_life, &Exchange::fatigue},
    {VULMORA_SECTION_u0, &Exchange::u0},
    {VULMORA_SECTION_v0, &Exchange::v0},
    {VULMORA_SECTION_w0, &Exchange::w0},
    {VULMORA_SECTION_u1, &Exchange::u1},
    {VULMORA_SECTION_v1, &Exchange::v1},
    {VULMORA_SECTION_w1, &Exchange::w1},
    {VULMORA_SECTION_p0, &Exchange::p0},
    {VULMORA_SECTION_p1, &Exchange::p1},
    {VULMORA_SECTION_mushy_strain, &Exchange::mushy},
    {VULMORA_SECTION_fraction_void, &Exchange::fractionVoid},
    {VULMORA_SECTION_epstn_new, &Exchange::epstn},
    {VULMORA_SECTION_strsg, &Exchange::strsg},
    {VULMORA_SECTION_el_vol, &Exchange::elVol},
};

} // namespace

// Every pointer from the state (null where the file has no section); the
// state's memory stays with `s`, which must outlive the calls.
bool Library::bind(State &s, std::string &error) {
    const vulmora_state_header &h = s.header();
    for (int t = 0; t < VULMORA_NTYPES; ++t) {
        const int *nn = s.array<int>(VULMORA_SECTION_el_nnode);
        const int *ng = s.array<int>(VULMORA_SECTION_el_ngp);
        if ((nn && nn[t] != x.elNnode[t]) || (ng && ng[t] != x.elNgp[t]))
            return error = "the state's per-type tables differ from the library's (type " +
                           std::to_string(t) + ")",
                   false;
    }
    *x.nnod = h.nnod, *x.nvnod = h.nvnod, *x.nel = h.nel, *x.nstr1 = h.nstr1;
    *x.twoD = h.two_d, *x.curNode = h.cur_node, *x.location = h.location;
    *x.unitTemp = h.user_unit_temp, *x.unitCoor = h.user_unit_coor;
    *x.unitConductivity = h.user_unit_thermalconductivity, *x.unitTime = h.user_unit_time;
    *x.unitHeatflux = h.user_unit_heatflux, *x.unitHtc = h.user_unit_heattransfercoeff;
    *x.unitVelocity = h.user_unit_velocity, *x.unitMassflow = h.user_unit_massflowrate;
    *x.tnodecontrol = h.tnodecontrol, *x.vnodecontrol = h.vnodecontrol;
    *x.stressScale = h.stress_scale, *x.funcTemp = h.func_temp, *x.locPoro = h.loc_poro;
    *x.elType = s.array<int>(VULMORA_SECTION_el_type);
    *x.matId = s.array<int>(VULMORA_SECTION_mat_id);
    *x.ncon = s.rows().empty() ? nullptr : s.rows().data();
    *x.x = s.array<double>(VULMORA_SECTION_x_cord);
    *x.y = s.array<double>(VULMORA_SECTION_y_cord);
    *x.z = s.array<double>(VULMORA_SECTION_z_cord);
    for (const FloatField &f : kFloatFields)
        *(x.*f.field) = s.array<float>(f.section);
    *x.micLastp = s.array<int>(VULMORA_SECTION_mic_lastp);
    if (const double *m = s.array<double>(VULMORA_SECTION_loc_micro))
        std::memcpy(x.locMicro, m, VULMORA_LOC_MICRO_LEN * sizeof(double));
    if (const char *t = s.array<char>(VULMORA_SECTION_name_mechprop))
        std::memcpy(x.nameMechprop, t, 5 * VULMORA_NAME_MECHPROP_LEN);
    if (const char *t = s.array<char>(VULMORA_SECTION_unit_mechprop))
        std::memcpy(x.unitMechprop, t, 5 * VULMORA_UNIT_MECHPROP_LEN);
    return true;
}

vulmora_state_view Library::view() const {
    vulmora_state_view v{};
    v.nnod = *x.nnod, v.nvnod = *x.nvnod, v.nel = *x.nel, v.nstr1 = *x.nstr1;
    v.two_d = *x.twoD, v.cur_node = *x.curNode, v.location = *x.location;
    v.user_unit_temp = *x.unitTemp, v.user_unit_coor = *x.unitCoor;
    v.user_unit_thermalconductivity = *x.unitConductivity, v.user_unit_time = *x.unitTime;
    v.user_unit_heatflux = *x.unitHeatflux, v.user_unit_heattransfercoeff = *x.unitHtc;
    v.user_unit_velocity = *x.unitVelocity, v.user_unit_massflowrate = *x.unitMassflow;
    v.tnodecontrol = *x.tnodecontrol, v.vnodecontrol = *x.vnodecontrol;
    v.stress_scale = *x.stressScale, v.func_temp = *x.funcTemp, v.loc_poro = *x.locPoro;
    v.mic_models = *x.micModels, v.mic_cnt = *x.micCnt;
    const void **d = v.data;
    d[VULMORA_SECTION_el_type] = *x.elType, d[VULMORA_SECTION_mat_id] = *x.matId;
    d[VULMORA_SECTION_ncon] = *x.ncon;
    d[VULMORA_SECTION_x_cord] = *x.x, d[VULMORA_SECTION_y_cord] = *x.y;
    d[VULMORA_SECTION_z_cord] = *x.z;
    for (const FloatField &f : kFloatFields)
        d[f.section] = *(x.*f.field);
    d[VULMORA_SECTION_mic_lastp] = *x.micLastp;
    d[VULMORA_SECTION_loc_micro] = x.locMicro;
    d[VULMORA_SECTION_name_mechprop] = x.nameMechprop;
    d[VULMORA_SECTION_unit_mechprop] = x.unitMechprop;
    d[VULMORA_SECTION_el_nnode] = x.elNnode, d[VULMORA_SECTION_el_ngp] = x.elNgp;
    return v;
}

// ---- the default library -------------------------------------------------------

// Relative to the executable only: next to it (the installed layout on
// every platform, and the Windows build tree), then in the build tree's
// ../examples; the delivered template is the last resort, in the build
// tree's .. or the installed ../lib.
std::vector<std::string> defaultLibraryCandidates() {
    const std::string examples = platform::libraryFileName("vulmora_examples");
    const std::string delivered = platform::libraryFileName("vulmora");
    std::vector<std::string> out;
    std::string exe = platform::executablePath();
    if (exe.empty()) return out;
    fs::path dir = fs::path(exe).parent_path();
    for (const fs::path &p :
         {dir / examples, dir / ".." / "examples" / examples, dir / delivered,
          dir / ".." / delivered, dir / ".." / "lib" / delivered, dir / ".." / "lib64" / delivered})
        out.push_back(p.lexically_normal().string());
    return out;
}

} // namespace vhost
