// block.h - a loaded user-function library: its exchange block and entry
// points, resolved by name as the solver resolves them.
#pragma once

#include <string>
#include <vector>

#include "include/vulmora/vulmora_layout.h"
#include "model/entries.h"
#include "cli/options.h"
#include "runtime/state_writer.h"

namespace vhost {

class Sample;
class State;

using PropertyFn = double (*)(int);
using ExternalFn = void (*)(void *, int);
using ConvertFn = double (*)(int, double);

// Addresses of the exchange-block variables inside the loaded library.
struct Exchange {
    int *nnod, *nvnod, *nel, *nstr1, *twoD, *curNode, *location;
    int *unitTemp, *unitCoor, *unitConductivity, *unitTime, *unitHeatflux, *unitHtc;
    int *unitVelocity, *unitMassflow, *tnodecontrol, *vnodecontrol;
    double *stressScale, *funcTemp, *locPoro;
    int **elType, **matId;
    int ***ncon;
    double **x, **y, **z;
    float **elVol, **t0, **t1, **fs0, **fs1, **vf0, **vf1, **fvol0, **fvol1;
    float **jctn0, **jctn1, **fatigue, **u0, **v0, **w0, **u1, **v1, **w1, **p0, **p1;
    float **mushy, **fractionVoid, **epstn, **strsg;
    void **micModels, **micCnt;
    int **micLastp;
    double *locMicro;           // VULMORA_LOC_MICRO_LEN values
    char *nameMechprop;         // VULMORA_MECHPROP_COUNT x VULMORA_NAME_MECHPROP_LEN
    char *unitMechprop;         // VULMORA_MECHPROP_COUNT x VULMORA_UNIT_MECHPROP_LEN
    const int *elNnode, *elNgp; // the per-type tables, VULMORA_NTYPES each
};

class Library {
  public:
    // Load `path` and resolve every name; false with the reason in `error`.
    bool open(const std::string &path, std::string &error);
    // The entry point `name` (without func_), or null when not exported.
    PropertyFn entry(const std::string &name) const;
    // Point the block at the sample's current step and write the scalars.
    void bind(Sample &s, const Options &o);
    // Point the block at a loaded state and write its scalars, mic_lastp,
    // loc_micro and the mechanical-property texts; false (with the reason)
    // when the state was made with other per-type tables than the library's.
    bool bind(State &s, std::string &error);
    // The block as it stands, as the state file's writer takes it.
    vulmora_state_view view() const;
    const std::string &path() const { return path_; }

    Exchange x{};
    ExternalFn externalcompute = nullptr;
    ConvertFn fromCGS = nullptr; // the exported fconvertFromCGS

  private:
    std::string path_;
    void *handle_ = nullptr;
    PropertyFn entries_[std::size(kEntryPoints)]{};
};

// Where the default library (the worked examples) is looked for, in order.
std::vector<std::string> defaultLibraryCandidates();

} // namespace vhost
