// guard.cpp - copying the input arrays into read-only pages.
#include "guard.h"

#include <cstring>

#include "block.h"
#include "platform.h"
#include "sample.h"

namespace vhost {

namespace {

// One array: where the block's pointer is, what it points at, its size.
struct Source {
    void **slot;
    const void *data;
    size_t bytes, element;
};

constexpr size_t kAlign = 64;

size_t aligned(size_t n) {
    return (n + kAlign - 1) / kAlign * kAlign;
}

} // namespace

InputGuard::~InputGuard() {
    platform::freePages(arena_, arenaBytes_);
}

bool InputGuard::protect(Exchange &x, const Sample &s) {
    const size_t n = static_cast<size_t>(s.nnod), ne = static_cast<size_t>(s.nel);
    auto nodal = [&](float **slot, const std::vector<float> &v) {
        return Source{reinterpret_cast<void **>(slot), v.data(), n * sizeof(float), sizeof(float)};
    };
    auto floats = [&](float **slot, const std::vector<float> &v) {
        return Source{reinterpret_cast<void **>(slot), v.data(), v.size() * sizeof(float),
                      sizeof(float)};
    };
    auto coords = [&](double **slot, const std::vector<double> &v) {
        return Source{reinterpret_cast<void **>(slot), v.data(), n * sizeof(double),
                      sizeof(double)};
    };
    const Source sources[kNumGuarded] = {
        coords(x.x, s.x),
        coords(x.y, s.y),
        coords(x.z, s.z),
        {reinterpret_cast<void **>(x.elType), s.elType.data(), ne * sizeof(int), sizeof(int)},
        {reinterpret_cast<void **>(x.matId), s.matId.data(), ne * sizeof(int), sizeof(int)},
        {reinterpret_cast<void **>(x.ncon), s.ncon.data(), ne * sizeof(int *), sizeof(int *)},
        {nullptr, s.conn.data(), s.conn.size() * sizeof(int), sizeof(int)},
        floats(x.elVol, s.elVol),
        nodal(x.t0, s.t0),
        nodal(x.t1, s.t1),
        nodal(x.fs0, s.fs0),
        nodal(x.fs1, s.fs1),
        nodal(x.vf0, s.vf0),
        nodal(x.vf1, s.vf1),
        nodal(x.fvol0, s.fvol0),
        nodal(x.fvol1, s.fvol1),
        nodal(x.jctn0, s.jctn0),
        nodal(x.jctn1, s.jctn1),
        nodal(x.fatigue, s.fatigue),
        nodal(x.u0, s.u0),
        nodal(x.v0, s.v0),
        nodal(x.w0, s.w0),
        nodal(x.u1, s.u1),
        nodal(x.v1, s.v1),
        nodal(x.w1, s.w1),
        nodal(x.p0, s.p0),
        nodal(x.p1, s.p1),
        nodal(x.mushy, s.mushy),
        floats(x.fractionVoid, s.fractionVoid),
        floats(x.epstn, s.epstn),
        floats(x.strsg, s.strsg),
    };
    size_t total = 0;
    for (const Source &src : sources)
        total += aligned(src.bytes);
    const size_t page = platform::pageSize();
    total = (total + page - 1) / page * page;
    if (arena_ && arenaBytes_ != total) {
        platform::freePages(arena_, arenaBytes_);
        arena_ = nullptr;
    }
    if (!arena_) {
        arena_ = static_cast<char *>(platform::allocatePages(total));
        arenaBytes_ = arena_ ? total : 0;
        if (!arena_) return false;
    }
    if (!platform::protectPages(arena_, arenaBytes_, false)) return false;
    size_t at = 0;
    char *rows = nullptr; // the copy of the connectivity rows
    for (size_t k = 0; k < kNumGuarded; ++k) {
        char *copy = arena_ + at;
        if (sources[k].bytes) std::memcpy(copy, sources[k].data, sources[k].bytes);
        regions_[k] = {copy, sources[k].bytes, sources[k].element};
        if (sources[k].slot) *sources[k].slot = copy;
        if (!sources[k].slot) rows = copy;
        at += aligned(sources[k].bytes);
    }
    // The row pointers point into the copied rows, at the same offsets.
    int **rowPtr = reinterpret_cast<int **>(const_cast<char *>(regions_[5].base));
    for (size_t e = 0; e < ne; ++e)
        rowPtr[e] = reinterpret_cast<int *>(rows) + (s.ncon[e] - s.conn.data());
    return platform::protectPages(arena_, arenaBytes_, true);
}

bool InputGuard::locate(const void *address, int32_t &array, int64_t &entry) const {
    const char *p = static_cast<const char *>(address);
    for (size_t k = 0; k < kNumGuarded; ++k) {
        const Region &r = regions_[k];
        if (r.base && p >= r.base && p < r.base + r.bytes) {
            array = static_cast<int32_t>(k);
            entry = static_cast<int64_t>(static_cast<size_t>(p - r.base) / r.element);
            return true;
        }
    }
    return false;
}

} // namespace vhost
