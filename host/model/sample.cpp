// sample.cpp - the sample casting's construction and mesh.
#include "model/sample.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <map>
#include <numeric>
#include <random>
#include <type_traits>
#include <unordered_map>

#include "mikral.h"
#include "model/materials.h"
#include "model/path.h"

namespace vhost {

// Size an array of the list in fields.h for its extent.
#define VHOST_RESIZE(first, member, type, extent, ...) member.resize(items(extent));

// The names of the sample's microstructure, by global index.
MikralCatalog *sampleCatalog() {
    MikralCatalog *catalog = mikral_catalog_create();
    for (int g = 0; g < kNumConstituents; ++g)
        mikral_catalog_add_constituent(catalog, g, kConstituents[g]);
    for (int g = 0; g < 2; ++g)
        mikral_catalog_add_constituent(catalog, kNumConstituents + g, kInactiveConstituents[g]);
    for (int g = 0; g < kNumAuxiliaries; ++g)
        mikral_catalog_add_auxiliary(catalog, g, kAuxiliaries[g]);
    mikral_catalog_add_auxiliary(catalog, kNumAuxiliaries, kInactiveAuxiliaries[0]);
    return catalog;
}

// ---- construction ----------------------------------------------------------

// Mesh, catalogue and model; the fields are filled by setStep.
Sample::Sample(int n, int nsteps, Build build, const Path *path, const Alloy &a)
    : nodesPerSide(n), steps(nsteps), alloy(a), path_(path) {
    nnod = n * n * n;
    nel = (n - 1) * (n - 1) * (n - 1);
    h = Alloy::side / (n - 1);
    buildMesh(build == Build::OnDemand);
    if (path_)
        buildPathClasses();
    else
        buildDepthClasses();
    if (build == Build::Whole) buildElementKinds();
    catalog = sampleCatalog();
    // Zeros until setStep fills them (fresh pages: no memory taken till then).
    VHOST_FIELD_ARRAYS(VHOST_RESIZE, VHOST_RESIZE)
    VHOST_POINT_ARRAYS(VHOST_RESIZE, VHOST_RESIZE)
    // The stand-in library reads the microstructure where fill() puts it.
    model =
        mikral_model_create_view(nnod, kNumConstituents, kNumAuxiliaries, micro.data(), aux.data());
    if (!model) throw std::bad_alloc();
}

// Every node has its value, every element 8 corners and 8 integration
// points (hexahedra), 6 stress components at each point.
size_t Sample::items(Extent e) const {
    const size_t n = static_cast<size_t>(nnod), ne = static_cast<size_t>(nel);
    switch (e) {
    case Extent::Node:
        return n;
    case Extent::Element:
        return ne;
    case Extent::Corner:
        return ne * 8;
    case Extent::Point:
        return ne * 8;
    case Extent::Stress:
        return ne * 8 * 6;
    case Extent::Constituents:
        return n * kNumConstituents;
    case Extent::Auxiliaries:
        return n * kNumAuxiliaries;
    }
    return 0;
}

Sample::~Sample() {
    mikral_model_destroy(model);
    mikral_catalog_destroy(catalog);
}

DepthAxes depthAxes(int side, bool path) {
    const int ne = side - 1, layers = mouldLayers(side);
    const double h = Alloy::side / ne;
    DepthAxes a;
    a.castLo = layers * h;
    a.castHi = (ne - layers) * h;
    a.half = (a.castHi - a.castLo) / 2;
    a.eps = 1e-9 * h;
    a.mould = !path;
    a.inside.resize(static_cast<size_t>(std::max(side, 0)));
    a.outside.resize(a.inside.size());
    for (int k = 0; k < side; ++k) {
        const double c = k * h, d = std::max({a.castLo - c, c - a.castHi, 0.0});
        a.inside[size_t(k)] = std::min(c - a.castLo, a.castHi - c);
        a.outside[size_t(k)] = d * d;
    }
    return a;
}

DepthRows depthRows(const DepthAxes &a) {
    const size_t n = a.inside.size();
    auto bitsOf = [](auto v) {
        std::conditional_t<sizeof v == 8, uint64_t, uint32_t> b;
        std::memcpy(&b, &v, sizeof b);
        return b;
    };
    DepthRows r;
    r.rowKind.resize(n * n);
    // The classes by their depth's bits: an open table, at most half full,
    // of 2^bits slots (the top bits of a Fibonacci hash).
    int bits = 6;
    std::vector<uint32_t> table(size_t(1) << bits, UINT32_MAX);
    auto slotOf = [&](uint32_t key) -> uint32_t & {
        size_t at = static_cast<size_t>((key * 0x9E3779B97F4A7C15ull) >> (64 - bits));
        while (table[at] != UINT32_MAX && bitsOf(r.classes[table[at]]) != key)
            at = (at + 1) & (table.size() - 1);
        return table[at];
    };
    auto classOf = [&](float depth) {
        uint32_t &slot = slotOf(bitsOf(depth));
        if (slot != UINT32_MAX) return slot;
        slot = static_cast<uint32_t>(r.classes.size());
        r.classes.push_back(depth);
        if (r.classes.size() * 2 > table.size()) {
            table.assign(size_t(1) << ++bits, UINT32_MAX);
            for (uint32_t c = 0; c < r.classes.size(); ++c)
                slotOf(bitsOf(r.classes[c])) = c;
        }
        return static_cast<uint32_t>(r.classes.size() - 1);
    };
    // A row's depths follow from the least distance inside along y and z
    // (and half the side) and the two squares outside, exactly: its key.
    // Where the squares along y and z alone make a distance outside, every
    // node of the row is outside (a sum of squares never falls as one more
    // is added), and the distance inside is left out of the key. Rows of
    // other keys may still hold the same classes: a kind is a row of
    // classes, found by its hash.
    std::map<std::array<uint64_t, 3>, uint32_t> kindOfKey;
    std::unordered_map<uint64_t, uint32_t> kindOfHash;
    std::vector<uint32_t> classes(n);
    const bool squares =
        std::all_of(a.outside.begin(), a.outside.end(), [](double d) { return d >= 0.0; });
    for (size_t k = 0, row = 0; k < n; ++k)
        for (size_t j = 0; j < n; ++j, ++row) {
            const double wallJK = std::min({a.half, a.inside[j], a.inside[k]});
            const bool out = a.mould && squares && a.outside[j] + a.outside[k] > a.eps * a.eps;
            const auto [known, added] = kindOfKey.try_emplace(
                {out ? 0 : bitsOf(wallJK), bitsOf(a.outside[j]), bitsOf(a.outside[k])}, 0);
            if (!added) {
                r.rowKind[row] = known->second;
                continue;
            }
            // A new key: its nodes, in order, are the first of any class
            // not met in an earlier row.
            uint64_t hash = 1469598103934665603ull;
            for (size_t i = 0; i < n; ++i) {
                const double wall = std::min(wallJK, a.inside[i]);
                const double sum = 0.0 + a.outside[i] + a.outside[j] + a.outside[k];
                classes[i] = classOf(a.mould && sum > a.eps * a.eps
                                         ? static_cast<float>(-std::sqrt(sum))
                                         : static_cast<float>(std::max(wall, 0.0) / a.half));
                hash = (hash ^ classes[i]) * 1099511628211ull;
            }
            const uint32_t kinds = static_cast<uint32_t>(n ? r.kindClasses.size() / n : 0);
            const auto [same, fresh] = kindOfHash.try_emplace(hash, kinds);
            uint32_t kind = same->second;
            if (!fresh && !std::equal(classes.begin(), classes.end(),
                                      r.kindClasses.begin() + std::ptrdiff_t(kind * n)))
                kind = kinds; // another row of the same hash: a kind of its own
            if (kind == kinds)
                r.kindClasses.insert(r.kindClasses.end(), classes.begin(), classes.end());
            r.rowKind[row] = known->second = kind;
        }
    return r;
}

// Nodes on a regular grid; elements in VTK hexahedron order; the outer
// layers of elements are the mould, the rest the casting. The depths by
// kind of row now, and without a path each node's depth class; the mesh's
// arrays now too, unless they are to be filled when first read.
void Sample::buildMesh(bool onDemand) {
    const DepthAxes axes = depthAxes(nodesPerSide, path_ != nullptr);
    layers = mouldLayers(nodesPerSide);
    castLo = axes.castLo;
    castHi = axes.castHi;
    rows_ = depthRows(axes);
    // Without a path, each row's classes copied from its kind's.
    const size_t n = static_cast<size_t>(nodesPerSide);
    if (!path_) {
        depthClass.resize(static_cast<size_t>(nnod));
        for (size_t row = 0; row < rows_.rowKind.size(); ++row)
            std::copy_n(&rows_.kindClasses[size_t(rows_.rowKind[row]) * n], n,
                        &depthClass[row * n]);
    }
    // Fresh pages: no memory taken until filled.
    VHOST_MESH_ARRAYS(VHOST_RESIZE, VHOST_RESIZE)
    if (!onDemand)
        for (const void *a : meshArrays())
            fill(a);
}

// The mesh's arrays, in the guard's order.
std::array<const void *, kMeshArrays> Sample::meshArrays() const {
    return {VHOST_MESH_ARRAYS(VHOST_ARRAY_DATA, VHOST_ARRAY_DATA)};
}

bool Sample::filled(const void *base) const {
    const auto arrays = meshArrays();
    for (size_t k = 0; k < kMeshArrays; ++k)
        if (arrays[k] == base) return meshFilled[k];
    return false;
}

// One array of the mesh, worked out from the grid.
bool Sample::fillMesh(const void *base) {
    const auto arrays = meshArrays();
    size_t which = 0;
    while (which < kMeshArrays && arrays[which] != base)
        ++which;
    if (which == kMeshArrays) return false;
    // Which array it is, by its address: the list's order does not matter.
    const int axis = base == x.data() ? 0 : base == y.data() ? 1 : base == z.data() ? 2 : -1;
    const size_t n = static_cast<size_t>(nodesPerSide), ne = n - 1;
    if (axis >= 0) { // a coordinate: a path's points where it has them
        double *v = out(axis == 0 ? x : axis == 1 ? y : z);
        for (int k = 0, row = 0; k < nodesPerSide; ++k)
            for (int j = 0; j < nodesPerSide; ++j, ++row) {
                double *r = v + size_t(row) * n;
                if (axis == 0)
                    for (int i = 0; i < nodesPerSide; ++i)
                        r[i] = i * h;
                else
                    std::fill_n(r, n, (axis == 1 ? j : k) * h);
            }
        const std::vector<double> *given =
            path_ ? &path_->values[column::kCoordinates + size_t(axis)] : nullptr;
        if (given && given->size() == path_->points())
            std::copy_n(given->data(), std::min(given->size(), static_cast<size_t>(nnod)), v);
    } else if (base == elType.data()) {
        std::fill_n(out(elType), nel, 1);
    } else if (base == elVol.data()) {
        std::fill_n(out(elVol), nel, static_cast<float>(h * h * h));
    } else if (base == ncon.data()) {
        int **rows = out(ncon);
        for (size_t e = 0; e < size_t(nel); ++e)
            rows[e] = conn.data() + e * 8; // the array's own address
    } else if (base == matId.data()) {
        // Casting inside the box on every axis, mould elsewhere.
        auto inside = [&](size_t a) { return path_ || (a >= size_t(layers) && a + layers < ne); };
        int *material = out(matId);
        for (size_t k = 0, e = 0; k < ne; ++k)
            for (size_t j = 0; j < ne; ++j, e += ne)
                if (inside(j) && inside(k))
                    for (size_t i = 0; i < ne; ++i)
                        material[e + i] = inside(i) ? 0 : 1;
                else
                    std::fill_n(material + e, ne, 1);
    } else { // the corners, in VTK order: each one node away from the first
        const int ni = nodesPerSide, nn = ni * ni;
        const int step[8] = {0, 1, ni + 1, ni, nn, nn + 1, nn + ni + 1, nn + ni};
        int *corners = out(conn);
        for (size_t k = 0, e = 0; k < ne; ++k)
            for (size_t j = 0; j < ne; ++j) {
                const int rowFirst = static_cast<int>((k * n + j) * n);
                for (size_t i = 0; i < ne; ++i, ++e)
                    for (size_t c = 0; c < 8; ++c)
                        corners[e * 8 + c] = rowFirst + static_cast<int>(i) + step[c];
            }
    }
    meshFilled[which] = true;
    return true;
}

// ---- another numbering ----------------------------------------------------

std::vector<int32_t> renumbering(int64_t count, uint32_t seed) {
    std::vector<int32_t> to(static_cast<size_t>(std::max<int64_t>(count, 0)));
    std::iota(to.begin(), to.end(), 0);
    // The shuffle written out: std::shuffle's sequence differs between
    // standard libraries, this one does not.
    std::mt19937 rng(seed);
    for (size_t i = to.size(); i > 1; --i)
        std::swap(to[i - 1], to[static_cast<size_t>(rng() % i)]);
    return to;
}

void Sample::renumber(uint32_t seed) {
    nodeNew_ = renumbering(nnod, seed);
    nodeOld_.assign(nodeNew_.size(), 0);
    for (size_t i = 0; i < nodeNew_.size(); ++i)
        nodeOld_[static_cast<size_t>(nodeNew_[i])] = static_cast<int32_t>(i);
    elementNew_ = renumbering(nel, seed ^ 0x9e3779b9u);
    // The largest run of items moved at once: a row of nodal doubles, or
    // an element array's 48 stresses per element.
    moved_.resize(std::max(static_cast<size_t>(nnod), items(Extent::Stress) / 2 + 1));
    for (const void *a : meshArrays())
        if (filled(a)) renumberArray(a);
}

// The array at `base` just filled in the grid's numbering (into its buffer,
// if given one), its items moved to their new numbers; the integration
// points' three arrays go together, as they are filled.
void Sample::renumberArray(const void *base) {
    const bool points = base == fractionVoid.data() || base == epstn.data() || base == strsg.data();
#define VHOST_RENUMBER(first, member, type, extent, ...)                                           \
    if (static_cast<const void *>(member.data()) == base ||                                        \
        (points && (extent == Extent::Point || extent == Extent::Stress)))                         \
        renumberItems(out(member), extent);
    VHOST_SAMPLE_ARRAYS(VHOST_RENUMBER, VHOST_RENUMBER)
#undef VHOST_RENUMBER
}

template <class T> void Sample::renumberItems(T *items, Extent e) {
    // The rows behind ncon: each element's row is where its number says,
    // whatever its number.
    if constexpr (std::is_pointer_v<T>) {
        (void)items, (void)e;
    } else {
        const bool byNode =
            e == Extent::Node || e == Extent::Constituents || e == Extent::Auxiliaries;
        const size_t count = static_cast<size_t>(byNode ? nnod : nel);
        const size_t rows = e == Extent::Constituents  ? kNumConstituents
                            : e == Extent::Auxiliaries ? kNumAuxiliaries
                                                       : 1;
        const size_t width = e == Extent::Stress                         ? 48
                             : e == Extent::Corner || e == Extent::Point ? 8
                                                                         : 1;
        const int32_t *to = byNode ? nodeNew_.data() : elementNew_.data();
        T *from = reinterpret_cast<T *>(moved_.data());
        for (size_t r = 0; r < rows; ++r) {
            T *row = items + r * count * width;
            std::copy_n(row, count * width, from);
            for (size_t i = 0; i < count; ++i)
                std::copy_n(from + i * width, width, row + static_cast<size_t>(to[i]) * width);
        }
        // The corners are node numbers (conn).
        if constexpr (std::is_same_v<T, int>)
            if (e == Extent::Corner)
                for (size_t k = 0; k < count * width; ++k)
                    items[k] = nodeNew_[static_cast<size_t>(items[k])];
    }
}

std::vector<uint8_t> selectNodes(int side, int materials, int64_t points, int64_t nnod) {
    std::vector<uint8_t> sel(static_cast<size_t>(std::max<int64_t>(nnod, 0)));
    if (points > 0) {
        std::fill_n(sel.begin(), std::min<int64_t>(points, nnod), uint8_t(1));
        return sel;
    }
    if (side <= 0) return sel;
    const int layers = mouldLayers(side), last = side - 1 - layers;
    const uint8_t casting = (materials & material::kCasting) != 0,
                  mould = (materials & material::kMould) != 0;
    // Row by row along x: a row inside the casting's box on y and z is
    // mould, casting, mould; any other all mould.
    const size_t n = static_cast<size_t>(side), count = sel.size();
    const size_t lo = static_cast<size_t>(layers), hi = static_cast<size_t>(last) + 1;
    auto fill = [&](size_t from, size_t to, uint8_t value) {
        std::fill(sel.begin() + std::ptrdiff_t(std::min(from, count)),
                  sel.begin() + std::ptrdiff_t(std::min(to, count)), value);
    };
    for (int z = 0, row = 0; z < side; ++z)
        for (int y = 0; y < side; ++y, ++row) {
            const size_t first = size_t(row) * n;
            if (z >= layers && z <= last && y >= layers && y <= last) {
                fill(first, first + lo, mould);
                fill(first + lo, first + hi, casting);
                fill(first + hi, first + n, mould);
            } else {
                fill(first, first + n, mould);
            }
        }
    return sel;
}

int64_t countSelected(int side, int materials, int64_t points, int64_t nnod) {
    if (points > 0) return std::clamp<int64_t>(nnod, 0, points);
    if (side <= 0) return 0;
    const int64_t inner = side - 2 * mouldLayers(side);
    const int64_t casting = inner > 0 ? inner * inner * inner : 0;
    return (materials & material::kCasting ? casting : 0) +
           (materials & material::kMould ? nnod - casting : 0);
}

} // namespace vhost
