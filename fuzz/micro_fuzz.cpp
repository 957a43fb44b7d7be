// micro_fuzz.cpp - microstructure and defect accessors and the temperature-
// table guard under fuzzed modes, codes, handles and arrays.
//
// The input sets location (the four modes or any other value), cur_node,
// the mic_lastp array with its slots, loc_micro, loc_poro, func_temp, the
// nodal defect arrays, and a stand-in microstructure catalogue and model
// (either may be absent: null handles), then calls getFraction, getMicro,
// getDefect and checkTempTable with any codes. Each call is checked
// against the rules written plainly here: the value, the one registration
// mark and nothing else changed, or the expected stop (trap.h).
//
// Left out, because the host guarantees it: cur_node is a valid node; a
// non-negative index read in registration or local mode lies within the
// mic_lastp array (constituents 0..99, auxiliary variables within the
// array's length); local-mode slots are 0..99; mic_lastp is set in those
// two modes, vf_s1 and f_vol1 in nodal mode.

#include "input.h"
#include "trap.h"

#include "include/vulmora/getVar.h"
#include "exchange/exchange.h"
#include "mikral/mikral.h"
#include "runtime/messages.h"

#include <climits>
#include <cstring>
#include <string>
#include <vector>

namespace {

using vfuzz::same;

constexpr int kConstituentEntry = 3, kAuxiliaryEntry = 103;

// Everything one input owns.
struct Host {
    int nodes = 1, auxiliaries = 0; // auxiliary entries in mic_lastp
    std::vector<int> lastp;
    std::vector<float> poros, fvol;
    MikralCatalog *catalog = nullptr;
    MikralModel *model = nullptr;
    ~Host() {
        mikral_catalog_destroy(catalog);
        mikral_model_destroy(model);
    }
};

// A mode: mostly one of the four, sometimes any value.
int pickMode(FuzzedDataProvider &in) {
    static const int kModes[] = {0, 1, 2, -1};
    if (in.ConsumeIntegralInRange<int>(0, 7) == 0) return in.ConsumeIntegral<int>();
    return kModes[in.ConsumeIntegralInRange<int>(0, 3)];
}

// Set the mode and the arrays it reads; arrays it does not read may be
// null (the host need not set them).
void setMode(FuzzedDataProvider &in, Host &h) {
    location = pickMode(in);
    bool drop = in.ConsumeBool();
    mic_lastp = drop && location != -1 && location != 2 ? nullptr : h.lastp.data();
    vf_s1 = drop && location != 1 ? nullptr : h.poros.data();
    f_vol1 = drop && location != 1 ? nullptr : h.fvol.data();
}

void build(FuzzedDataProvider &in, Host &h) {
    h.nodes = in.ConsumeIntegralInRange<int>(1, 40);
    h.auxiliaries = in.ConsumeIntegralInRange<int>(0, 100);
    cur_node = in.ConsumeIntegralInRange<int>(0, h.nodes - 1);
    h.lastp.resize(static_cast<size_t>(kAuxiliaryEntry + h.auxiliaries));
    for (int &slot : h.lastp)
        slot = in.ConsumeIntegralInRange<int>(0, 99);
    for (double &v : loc_micro)
        v = vfuzz::pickDouble(in);
    loc_poro = vfuzz::pickDouble(in);
    func_temp = in.ConsumeBool() ? -9999.0 : vfuzz::pickDouble(in);
    h.poros.resize(static_cast<size_t>(h.nodes));
    h.fvol.resize(h.poros.size());
    for (size_t n = 0; n < h.poros.size(); ++n) {
        h.poros[n] = vfuzz::pickFloat(in);
        h.fvol[n] = vfuzz::pickFloat(in);
    }
    setMode(in, h);
    if (in.ConsumeBool()) {
        h.catalog = mikral_catalog_create();
        for (int k = in.ConsumeIntegralInRange<int>(0, 8); k > 0; --k) {
            int g = in.ConsumeIntegralInRange<int>(0, 200);
            std::string name = in.ConsumeRandomLengthString(40);
            if (in.ConsumeBool())
                mikral_catalog_add_constituent(h.catalog, g, name.c_str());
            else
                mikral_catalog_add_auxiliary(h.catalog, g, name.c_str());
        }
    }
    if (in.ConsumeBool()) {
        h.model = mikral_model_create(h.nodes, in.ConsumeIntegralInRange<int>(0, 100),
                                      in.ConsumeIntegralInRange<int>(0, 100));
        for (int k = in.ConsumeIntegralInRange<int>(0, 8); k > 0; --k)
            mikral_model_set_constituent(h.model, in.ConsumeIntegralInRange<int>(0, 100), cur_node,
                                         vfuzz::pickDouble(in));
    }
    micCNTA = h.catalog;
    micModelsA = h.model;
}

// ---- getFraction and getMicro ---------------------------------------------------------

// An index: any negative value, the two special ones, or a non-negative one
// that the current mode allows (within the array in the modes that read it).
int pickIndex(FuzzedDataProvider &in, int limit) {
    switch (in.ConsumeIntegralInRange<int>(0, 5)) {
    case 0:
        return -99999;
    case 1:
        return -9999;
    case 2:
        return in.ConsumeIntegralInRange<int>(INT_MIN, -1);
    default:
        break;
    }
    if ((location == -1 || location == 2) && mic_lastp != nullptr)
        return limit > 0 ? in.ConsumeIntegralInRange<int>(0, limit - 1) : -1;
    return in.ConsumeIntegralInRange<int>(0, INT_MAX);
}

void quantity(FuzzedDataProvider &in, const Host &h, bool constituent) {
    const int first = constituent ? kConstituentEntry : kAuxiliaryEntry;
    const int i = pickIndex(in, constituent ? 100 : h.auxiliaries);
    const int mode = location;
    std::vector<int> before = h.lastp;
    bool stopped = false;
    double got = 0.0;
    VFUZZ_CALL(stopped, got = constituent ? getFraction(i) : getMicro(i));
    const char *want = nullptr;
    if (i == -99999)
        want = VULMORA_MSG_MICRO_OFF;
    else if (i == -9999)
        want = VULMORA_MSG_MICRO_CLASS;
    else if (i < 0)
        want = constituent ? VULMORA_MSG_CONSTITUENT_INACTIVE : VULMORA_MSG_AUX_INACTIVE;
    else if (mode != 0 && mode != 1 && mode != 2 && mode != -1)
        want = constituent ? VULMORA_MSG_FRACTION_MODE : VULMORA_MSG_MICRO_MODE;
    if (want != nullptr) {
        if (!stopped || std::strcmp(vfuzz::stopFormat, want) != 0)
            vfuzz::fail("micro: missing or wrong stop");
        if (h.lastp != before) vfuzz::fail("micro: changed mic_lastp before stopping");
        if (i < 0 && i != -99999 && i != -9999) {
            const char *name = constituent ? micCNT_GindToName_CNT(micCNTA, ~i)
                                           : micCNT_GindToName_Aux(micCNTA, ~i);
            if (name && vfuzz::stopText.find(name) == std::string::npos)
                vfuzz::fail("micro: name missing from the message");
        }
        return;
    }
    if (stopped) vfuzz::fail("micro: unexpected stop", vfuzz::stopFormat);
    const size_t entry = static_cast<size_t>(first) + static_cast<size_t>(i);
    double expect = 1.0;
    if (mode == 1)
        expect = constituent ? micModels_gCNTibyAind_checkIndices(micModelsA, i, cur_node)
                             : micModels_vAuxibyAind_checkIndices(micModelsA, i, cur_node);
    if (mode == 2) expect = loc_micro[(constituent ? 0 : 100) + h.lastp[entry]];
    if (!same(got, expect)) vfuzz::fail("micro: wrong value");
    if (mode == -1) before[entry] = 1;
    if (h.lastp != before) vfuzz::fail("micro: wrong registration marks");
}

// ---- getDefect and checkTempTable ----------------------------------------------------------

void defect(FuzzedDataProvider &in, const Host &h) {
    const int d = vfuzz::pickInt(in, -3, 3);
    const int mode = location;
    std::vector<int> before = h.lastp;
    bool stopped = false;
    double got = 0.0;
    VFUZZ_CALL(stopped, got = getDefect(d));
    const char *want = nullptr;
    double expect = 1.0;
    if (d < 0)
        want = VULMORA_MSG_DEFECT_INACTIVE;
    else if (d != 1 && d != 2)
        want = VULMORA_MSG_DEFECT_UNAUTHORIZED;
    else if (mode == -1 && d == 2)
        want = VULMORA_MSG_FVOL_REGISTRATION;
    else if (mode == 2 && d == 2)
        want = VULMORA_MSG_FVOL_LOCAL;
    else if (mode == 1)
        expect = static_cast<double>(d == 1 ? vf_s1[cur_node] : f_vol1[cur_node]);
    else if (mode == 2)
        expect = loc_poro;
    else if (mode != 0 && mode != -1)
        want = VULMORA_MSG_DEFECT_MODE;
    if (want != nullptr) {
        if (!stopped || std::strcmp(vfuzz::stopFormat, want) != 0)
            vfuzz::fail("defect: missing or wrong stop");
        if (h.lastp != before) vfuzz::fail("defect: changed mic_lastp before stopping");
        if (d == -1 && vfuzz::stopText.find("POROS1 shrinkage microporosity") == std::string::npos)
            vfuzz::fail("defect: POROS1 name");
        return;
    }
    if (stopped) vfuzz::fail("defect: unexpected stop", vfuzz::stopFormat);
    if (!same(got, expect)) vfuzz::fail("defect: wrong value");
    if (mode == -1) before[2] = 1;
    if (h.lastp != before) vfuzz::fail("defect: wrong registration marks");
}

void tempTable() {
    bool stopped = false;
    VFUZZ_CALL(stopped, checkTempTable());
    bool want = func_temp == -9999.0;
    if (stopped != want) vfuzz::fail("checkTempTable");
    if (stopped && std::strcmp(vfuzz::stopFormat, VULMORA_MSG_TEMP_TABLE) != 0)
        vfuzz::fail("checkTempTable message");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, size_t size) {
    FuzzedDataProvider in(data, size);
    Host host;
    build(in, host);
    mikral_calls_clear();
    for (int step = 0; step < 64 && in.remaining_bytes() > 0; ++step) {
        switch (in.ConsumeIntegralInRange<int>(0, 4)) {
        case 0:
            quantity(in, host, true);
            break;
        case 1:
            quantity(in, host, false);
            break;
        case 2:
            defect(in, host);
            break;
        case 3:
            tempTable();
            break;
        default:
            setMode(in, host);
            break;
        }
    }
    return 0;
}
