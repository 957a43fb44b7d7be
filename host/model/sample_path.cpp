// sample_path.cpp - the sample's grid holding a path: node i is point i.
#include <algorithm>

#include "model/path.h"
#include "model/sample.h"

namespace vhost {

// One class per point; node i in class i, the nodes beyond the path in
// the last point's.
void Sample::buildPathClasses() {
    const size_t points = std::max<size_t>(path_->points(), 1);
    classDepth.assign(points, 0.5f);
    depthClass.resize(static_cast<size_t>(nnod));
    for (size_t i = 0; i < depthClass.size(); ++i)
        depthClass[i] = static_cast<uint32_t>(std::min(i, points - 1));
    level0.resize(points);
    level1.resize(points);
    classLife.assign(points, 0.0f);
    classMicro.assign(points * kNumConstituents, 0.0);
    classAux.assign(points * kNumAuxiliaries, 0.0);
}

// The tables the integration points and the microstructure's rows are made
// from, taken from the path's columns.
void Sample::setPathStep() {
    const Path &p = *path_;
    const size_t classes = classDepth.size();
    for (size_t k = 0; k < classes && k < p.points(); ++k) {
        level0.T[k] = static_cast<float>(p.at(column::t0, k));
        level1.T[k] = static_cast<float>(p.at(column::t1, k));
        level0.vf[k] = static_cast<float>(p.at(column::vf_s0, k));
        level1.vf[k] = static_cast<float>(p.at(column::vf_s1, k));
        classLife[k] = static_cast<float>(p.at(column::fatigue_life, k));
        for (size_t q = 0; q < size_t(kNumConstituents); ++q)
            classMicro[q * classes + k] = p.at(column::kConstituents + q, k);
        for (size_t q = 0; q < size_t(kNumAuxiliaries); ++q)
            classAux[q * classes + k] = p.at(column::kAuxiliaries + q, k);
    }
}

// A nodal field's array at `base`: each node its point's value of the
// column of the same variable; false for any other array.
bool Sample::fillPathField(const void *base) {
    const Path &p = *path_;
    auto fillColumn = [&](PageVector<float> &array, size_t c) {
        float *v = out(array);
        const std::vector<double> &values = p.values[c];
        for (size_t i = 0, n = static_cast<size_t>(nnod); i < n; ++i)
            v[i] = static_cast<float>(values[depthClass[i]]);
    };
#define VHOST_PATH_FILL(variable, member, type, extent, vtu)                                       \
    if (member.data() == base) return fillColumn(member, column::variable), true;
    VHOST_FIELD_ARRAYS(VHOST_PATH_FILL, VHOST_ARRAY_NONE)
#undef VHOST_PATH_FILL
    return false;
}

} // namespace vhost
