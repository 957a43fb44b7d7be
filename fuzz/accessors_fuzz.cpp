// accessors_fuzz.cpp - nodal and element accessors, integration-point means,
// the nearest-node search and the two converters on fuzzed meshes.
//
// The input builds an exchange block - counts, unit selectors, the 2-D
// flag, nstr1, element types, materials, connectivity, coordinates and
// fields full of NaN and infinities, any field left null - then drives a
// sequence of accessor calls. Each result is compared with a plain
// reference written here; a fatal stop must be the expected message
// (trap.h).
//
// Inconsistent data the library tolerates is generated on purpose: type
// codes outside 0..11, materials of any value, connectivity entries
// outside 0..nnod-1 and null node lists, k beyond the element's node
// count, unit selectors outside 1..10, every field and mesh array null.
//
// Left out, because the host guarantees it: array lengths match nnod,
// nvnod and nel, and the integration-point arrays hold the points of the
// element types (unknown codes owning none); a node list of a known type
// has at least el_nnode[type] entries.

#include "input.h"
#include "trap.h"

#include "include/vulmora/getVar.h"
#include "accessors/nodfixed.h"
#include "exchange/exchange.h"
#include "runtime/messages.h"

#include <climits>
#include <cstring>
#include <limits>
#include <vector>

namespace {

using vfuzz::same;

// ---- the mesh ----------------------------------------------------------------------

int nodesOf(int type) {
    return type >= 0 && type < 12 ? el_nnode[type] : 0;
}
int pointsOf(int type) {
    return type >= 0 && type < 12 ? el_ngp[type] : 0;
}

// Every host array of one input.
struct Host {
    std::vector<int> types, mats;
    std::vector<std::vector<int>> lists;
    std::vector<int *> rows;
    std::vector<double> x, y, z;
    std::vector<float> nodal[11], velocity[9], volume, fv, ep, stress;
};

// Nodal fields in the order of the exchange block, with their pointers.
float **const kNodal[11] = {&t0,     &t1,     &fs0,   &fs1,   &vf_s0,       &vf_s1,
                            &f_vol0, &f_vol1, &jctn0, &jctn1, &fatigue_life};
float **const kVelocity[9] = {&u0, &v0, &w0, &u1, &v1, &w1, &p0, &p1, &mushy_strain};

void build(FuzzedDataProvider &in, Host &h) {
    nnod = in.ConsumeIntegralInRange<int>(0, 300);
    nvnod = in.ConsumeIntegralInRange<int>(0, 300);
    nel = in.ConsumeIntegralInRange<int>(0, 200);
    TWO_D = in.ConsumeBool() ? 1 : 0;
    nstr1 = in.ConsumeIntegralInRange<int>(0, 15) == 0 ? 4 : 6;
    stress_scale = vfuzz::pickDouble(in);
    for (int *unit : {&user_unit_temp, &user_unit_coor, &user_unit_thermalconductivity,
                      &user_unit_time, &user_unit_heatflux, &user_unit_heattransfercoeff,
                      &user_unit_velocity, &user_unit_massflowrate})
        *unit = vfuzz::pickInt(in, -1, 11);
    const std::uint32_t nulls = in.ConsumeIntegral<std::uint32_t>();
    auto keep = [&](int bit) { return (nulls >> bit & 1u) == 0; };

    const size_t n = static_cast<size_t>(nnod), e = static_cast<size_t>(nel);
    h.x.resize(n), h.y.resize(n), h.z.resize(n);
    for (size_t i = 0; i < n; ++i) {
        h.x[i] = vfuzz::pickDouble(in);
        h.y[i] = vfuzz::pickDouble(in);
        h.z[i] = vfuzz::pickDouble(in);
    }
    h.types.resize(e), h.mats.resize(e), h.lists.resize(e), h.rows.resize(e);
    size_t points = 0;
    for (size_t i = 0; i < e; ++i) {
        h.types[i] = vfuzz::pickInt(in, 0, 11);
        h.mats[i] = vfuzz::pickInt(in, -1, 3);
        int length = nodesOf(h.types[i]) + in.ConsumeIntegralInRange<int>(0, 2);
        h.lists[i].resize(static_cast<size_t>(length));
        for (int &node : h.lists[i])
            node = vfuzz::pickInt(in, 0, nnod > 0 ? nnod - 1 : 0);
        h.rows[i] = in.ConsumeIntegralInRange<int>(0, 31) == 0 ? nullptr : h.lists[i].data();
        points += static_cast<size_t>(pointsOf(h.types[i]));
    }
    for (int f = 0; f < 11; ++f) {
        h.nodal[f].resize(n);
        for (float &v : h.nodal[f])
            v = vfuzz::pickFloat(in);
        *kNodal[f] = keep(f) ? h.nodal[f].data() : nullptr;
    }
    for (int f = 0; f < 9; ++f) {
        h.velocity[f].resize(static_cast<size_t>(nvnod));
        for (float &v : h.velocity[f])
            v = vfuzz::pickFloat(in);
        *kVelocity[f] = keep(11 + f) ? h.velocity[f].data() : nullptr;
    }
    h.volume.resize(e);
    for (float &v : h.volume)
        v = vfuzz::pickFloat(in);
    h.fv.resize(points), h.ep.resize(points), h.stress.resize(6 * points);
    for (auto *field : {&h.fv, &h.ep, &h.stress})
        for (float &v : *field)
            v = vfuzz::pickFloat(in);
    x_cord = keep(20) ? h.x.data() : nullptr;
    y_cord = keep(21) ? h.y.data() : nullptr;
    z_cord = keep(22) ? h.z.data() : nullptr;
    el_type = keep(23) ? h.types.data() : nullptr;
    mat_id = keep(24) ? h.mats.data() : nullptr;
    ncon = keep(25) ? h.rows.data() : nullptr;
    el_vol = keep(26) ? h.volume.data() : nullptr;
    fraction_void = keep(27) ? h.fv.data() : nullptr;
    epstn_new = keep(28) ? h.ep.data() : nullptr;
    strsg = keep(29) ? h.stress.data() : nullptr;
}

// ---- calls and their references -----------------------------------------------------

// A 1-based number around the valid range 1..count, or any value.
int pickNumber(FuzzedDataProvider &in, int count) {
    return vfuzz::pickInt(in, -1, count + 1);
}

bool inRange(int n, int count) {
    return n >= 1 && n <= count;
}

// Call `get(n)` and expect `want`, or the stop `message` when it is given.
void expectValue(double (*get)(int), int n, double want, const char *message, const char *name) {
    bool stopped = false;
    double got = 0.0;
    VFUZZ_CALL(stopped, got = get(n));
    if (message != nullptr) {
        if (!stopped || std::strcmp(vfuzz::stopFormat, message) != 0)
            vfuzz::fail("missing or wrong stop in", name);
        return;
    }
    if (stopped) vfuzz::fail("unexpected stop in", name);
    if (!same(got, want)) vfuzz::fail("wrong value from", name);
}

// Tolerant nodal and velocity accessors: 0 when null or out of range.
void tolerant(FuzzedDataProvider &in) {
    struct Row {
        double (*get)(int);
        float **field;
        const int *count;
        int code; // conversion applied, or 99 for none
        const char *name;
    };
    static const Row kRows[] = {{getT0, &t0, &nnod, -1, "getT0"},
                                {getT1, &t1, &nnod, -1, "getT1"},
                                {getFs0, &fs0, &nnod, 99, "getFs0"},
                                {getFs1, &fs1, &nnod, 99, "getFs1"},
                                {getU0, &u0, &nvnod, 8, "getU0"},
                                {getV0, &v0, &nvnod, 8, "getV0"},
                                {getW0, &w0, &nvnod, 8, "getW0"},
                                {getU1, &u1, &nvnod, 8, "getU1"},
                                {getV1, &v1, &nvnod, 8, "getV1"},
                                {getW1, &w1, &nvnod, 8, "getW1"},
                                {getMushyStrain, &mushy_strain, &nvnod, 99, "getMushyStrain"}};
    const Row &r = kRows[in.ConsumeIntegralInRange<size_t>(0, std::size(kRows) - 1)];
    int n = pickNumber(in, *r.count);
    double want = 0.0;
    if (*r.field != nullptr && inRange(n, *r.count))
        want = fconvertFromCGS(r.code, static_cast<double>((*r.field)[n - 1]));
    expectValue(r.get, n, want, nullptr, r.name);
}

// Coordinates: tolerant, in the user's length unit.
void coordinates(FuzzedDataProvider &in) {
    static double (*const kGet[3])(int) = {getX, getY, getZ};
    double **const kField[3] = {&x_cord, &y_cord, &z_cord};
    int c = in.ConsumeIntegralInRange<int>(0, 2);
    int n = pickNumber(in, nnod);
    double want = 0.0;
    if (*kField[c] != nullptr && inRange(n, nnod)) want = fconvertFromCGS(0, (*kField[c])[n - 1]);
    expectValue(kGet[c], n, want, nullptr, "coordinate");
}

// Strict accessors: the null test comes before the range test.
void strict(FuzzedDataProvider &in) {
    struct Row {
        double (*get)(int);
        float **field;
        const int *count;
        const char *message;
        const char *name;
    };
    static const Row kRows[] = {
        {getVfS0, &vf_s0, &nnod, VULMORA_MSG_VF_S, "getVfS0"},
        {getVfS1, &vf_s1, &nnod, VULMORA_MSG_VF_S, "getVfS1"},
        {getFVol0, &f_vol0, &nnod, VULMORA_MSG_F_VOL, "getFVol0"},
        {getFVol1, &f_vol1, &nnod, VULMORA_MSG_F_VOL, "getFVol1"},
        {getJctn0, &jctn0, &nnod, VULMORA_MSG_JCTN, "getJctn0"},
        {getJctn1, &jctn1, &nnod, VULMORA_MSG_JCTN, "getJctn1"},
        {getFatigueLife, &fatigue_life, &nnod, VULMORA_MSG_FATIGUE_LIFE, "getFatigueLife"},
        {getElVol, &el_vol, &nel, VULMORA_MSG_EL_VOL, "getElVol"},
        {getP0, &p0, &nvnod, VULMORA_MSG_P0, "getP0"},
        {getP1, &p1, &nvnod, VULMORA_MSG_P1, "getP1"}};
    const Row &r = kRows[in.ConsumeIntegralInRange<size_t>(0, std::size(kRows) - 1)];
    int n = pickNumber(in, *r.count);
    const float *field = *r.field;
    double want = field && inRange(n, *r.count) ? static_cast<double>(field[n - 1]) : 0.0;
    expectValue(r.get, n, want, field ? nullptr : r.message, r.name);
}

// Element type, material and node k of an element.
void elements(FuzzedDataProvider &in, const Host &h) {
    int e = pickNumber(in, nel);
    bool ok = inRange(e, nel);
    bool stopped = false;
    int got = 0;
    VFUZZ_CALL(stopped, got = getElType(e));
    if (stopped || got != (el_type && ok ? el_type[e - 1] : 0)) vfuzz::fail("getElType");
    // A stored INT_MAX has no 1-based successor and reads as 0.
    VFUZZ_CALL(stopped, got = getMatId(e));
    int mat = mat_id && ok ? mat_id[e - 1] : -1;
    if (stopped || got != (mat == INT_MAX ? 0 : mat + 1)) vfuzz::fail("getMatId");
    int k = vfuzz::pickInt(in, -1, 14);
    bool listed = ncon && ok && inRange(k, nnod) && el_type && k <= nodesOf(el_type[e - 1]) &&
                  ncon[e - 1] != nullptr;
    int entry = listed ? h.lists[static_cast<size_t>(e - 1)][static_cast<size_t>(k - 1)] : 0;
    VFUZZ_CALL(stopped, got = getElemNode(k, e));
    if (stopped || got != (listed && entry != INT_MAX ? entry + 1 : 0)) vfuzz::fail("getElemNode");
}

// Reference mean of values[stride * p + k] over element e's points.
double referenceMean(const float *values, int stride, int k, int e) {
    long long first = 0;
    for (int i = 0; i < e - 1; ++i)
        first += pointsOf(el_type[i]);
    int count = pointsOf(el_type[e - 1]);
    double s = 0.0;
    for (int j = 0; j < count; ++j)
        s += static_cast<double>(values[(first + j) * stride + k]);
    return s / static_cast<double>(count);
}

// The eight integration-point means, with their stops in order.
void means(FuzzedDataProvider &in) {
    static double (*const kGet[8])(int) = {getFractionVoid, getEpstn,   getStress1, getStress2,
                                           getStress3,      getStress4, getStress5, getStress6};
    int which = in.ConsumeIntegralInRange<int>(0, 7);
    int e = pickNumber(in, nel);
    const char *message = nullptr;
    double want = 0.0;
    if (which < 2) {
        const float *field = which == 0 ? fraction_void : epstn_new;
        if (field == nullptr)
            message = which == 0 ? VULMORA_MSG_FRACTION_VOID : VULMORA_MSG_EPSTN;
        else if (inRange(e, nel) && el_type != nullptr)
            want = referenceMean(field, 1, 0, e);
        else if (inRange(e, nel))
            want = std::numeric_limits<double>::quiet_NaN(); // no element data
    } else if (nstr1 != 6) {
        message = VULMORA_MSG_STRESS_3D;
    } else if (strsg == nullptr) {
        message = VULMORA_MSG_STRSG;
    } else if (inRange(e, nel)) {
        double mean = el_type ? referenceMean(strsg, 6, which - 2, e)
                              : std::numeric_limits<double>::quiet_NaN();
        want = mean * stress_scale;
    }
    expectValue(kGet[which], e, want, message, "integration-point mean");
}

// ---- the nearest-node search ----------------------------------------------------------

double distance(int n, double X, double Y, double Z, bool twoD) {
    double dx = x_cord[n] - X, dy = y_cord[n] - Y;
    double d = dx * dx + dy * dy;
    if (!twoD) {
        double dz = z_cord[n] - Z;
        d = d + dz * dz;
    }
    return d;
}

// The search written plainly: strict < over all nodes, <= over a
// material's nodes in element and list order, each node once.
int referenceSearch(double X, double Y, double Z, int material, bool twoD) {
    if (!x_cord || !y_cord || (!twoD && !z_cord)) return 0;
    double best = DBL_MAX;
    int result = 0;
    if (material == 0) {
        for (int n = 0; n < nnod; ++n) {
            double d = distance(n, X, Y, Z, twoD);
            if (d < best) best = d, result = n + 1;
        }
        return result;
    }
    if (!el_type || !mat_id || !ncon || nnod <= 0) return 0;
    std::vector<char> seen(static_cast<size_t>(nnod), 0);
    for (int i = 0; i < nel; ++i) {
        if (static_cast<long long>(mat_id[i]) + 1 != material || ncon[i] == nullptr) continue;
        for (int j = 0; j < nodesOf(el_type[i]); ++j) {
            int n = ncon[i][j];
            if (n < 0 || n >= nnod || seen[static_cast<size_t>(n)]) continue;
            double d = distance(n, X, Y, Z, twoD);
            if (d <= best) best = d, result = n + 1;
            seen[static_cast<size_t>(n)] = 1;
        }
    }
    return result;
}

using NearestNode = int (*)(double, double, double, int, double *, double *, double *);

// One search by `search` (named `name` in the findings), checked against
// the reference.
void nearestBy(NearestNode search, const char *name, double x, double y, double z, int material) {
    const double sentinel = -12345.0;
    double out[3] = {sentinel, sentinel, sentinel};
    bool twoD = TWO_D != 0;
    int said = vfuzz::sayCount, got = 0;
    bool stopped = false;
    VFUZZ_CALL(stopped, got = search(x, y, z, material, &out[0], &out[1], &out[2]));
    if (stopped) vfuzz::fail("search stopped", name);
    int want = referenceSearch(fconvertToCGS(0, x), fconvertToCGS(0, y), fconvertToCGS(0, z),
                               material, twoD);
    if (got != want) vfuzz::fail("search found another node", name);
    if (got == 0) {
        if (vfuzz::sayCount != said + 1) vfuzz::fail("no message for no node", name);
        if (out[0] != sentinel || out[1] != sentinel || out[2] != sentinel)
            vfuzz::fail("outputs written without a node", name);
        return;
    }
    if (vfuzz::sayCount != said) vfuzz::fail("printed although a node was found", name);
    if (!same(out[0], fconvertFromCGS(0, x_cord[got - 1])) ||
        !same(out[1], fconvertFromCGS(0, y_cord[got - 1])))
        vfuzz::fail("wrong coordinates written", name);
    if (twoD ? out[2] != sentinel : !same(out[2], fconvertFromCGS(0, z_cord[got - 1])))
        vfuzz::fail("z output", name);
}

// nodNum, and its indexed form nodNumFixed on the same point (the index
// lives as long as the input's arrays, see LLVMFuzzerTestOneInput).
void nearest(FuzzedDataProvider &in) {
    double x = vfuzz::pickDouble(in), y = vfuzz::pickDouble(in), z = vfuzz::pickDouble(in);
    int material = in.ConsumeBool() ? 0 : vfuzz::pickInt(in, -1, 4);
    nearestBy(nodNum, "nodNum", x, y, z, material);
    nearestBy(nodNumFixed, "nodNumFixed", x, y, z, material);
}

// ---- converters and changes between calls ----------------------------------------------

void converters(FuzzedDataProvider &in) {
    static const int kCodes[] = {-1, 0, 3, 4, 6, 7, 8, 13, 11, 2, 5, 99, INT_MIN, INT_MAX};
    int code = in.ConsumeBool() ? kCodes[in.ConsumeIntegralInRange<size_t>(0, 13)]
                                : in.ConsumeIntegral<int>();
    double v = vfuzz::pickDouble(in);
    bool stopped = false;
    double to = 0.0, from = 0.0;
    VFUZZ_CALL(stopped, (to = fconvertToCGS(code, v), from = fconvertFromCGS(code, v)));
    if (stopped) vfuzz::fail("converter stopped");
    bool table = code >= -1 && code <= 13 && code != 1 && code != 2 && code != 5 && code != 9 &&
                 code != 10 && code != 11 && code != 12;
    if (!table && (!same(to, v) || !same(from, v))) vfuzz::fail("untabled code converted");
}

// The host may change selectors and flags between calls.
void change(FuzzedDataProvider &in) {
    switch (in.ConsumeIntegralInRange<int>(0, 3)) {
    case 0:
        user_unit_coor = vfuzz::pickInt(in, -1, 11);
        break;
    case 1:
        user_unit_temp = vfuzz::pickInt(in, -1, 5);
        break;
    case 2:
        TWO_D = in.ConsumeBool() ? 1 : 0;
        break;
    default:
        nstr1 = in.ConsumeBool() ? 6 : vfuzz::pickInt(in, 0, 7);
        break;
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, size_t size) {
    FuzzedDataProvider in(data, size);
    Host host;
    build(in, host);
    // A new host: its arrays may lie where the last input's did, which
    // nodNumFixed cannot tell from values rewritten in place.
    vulmora::nodFixedRelease();
    for (int step = 0; step < 64 && in.remaining_bytes() > 0; ++step) {
        switch (in.ConsumeIntegralInRange<int>(0, 7)) {
        case 0:
            tolerant(in);
            break;
        case 1:
            coordinates(in);
            break;
        case 2:
            strict(in);
            break;
        case 3:
            elements(in, host);
            break;
        case 4:
            means(in);
            break;
        case 5:
            nearest(in);
            break;
        case 6:
            converters(in);
            break;
        default:
            change(in);
            break;
        }
    }
    return 0;
}
