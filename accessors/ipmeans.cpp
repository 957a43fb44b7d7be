// ipmeans.cpp - element means of integration-point data.
//
// The host numbers the integration points of the mesh consecutively,
// element after element; element e owns el_ngp[type] points starting at
// the sum of the point counts of the elements before it. That offset is
// walked anew at every call (nothing is cached, the host may change the
// mesh between calls).
//
// A mean widens every value to double, adds in index order, divides by the
// point count as a double; an element without points gives 0.0 / 0, a NaN.

#include "getVar.h"

#include "../exchange/exchange.h"
#include "../runtime/messages.h"
#include "../runtime/stop.h"
#include "mesh.h"

#include <cstddef>

namespace {

// ---- the integration-point layout --------------------------------------------

// Index of the first integration point of the element with 0-based index
// `elem`: the point counts of elements 0..elem-1 added up in 64 bits. One
// load, one compare and one table load per element keeps this walk at
// memory speed; an unknown type code adds nothing.
long long pointOffset(const int *types, int elem) {
    long long sum = 0;
    for (int i = 0; i < elem; ++i) {
        unsigned type = static_cast<unsigned>(types[i]);
        bool known = type < static_cast<unsigned>(VULMORA_NTYPES);
        int points = el_ngp[known ? type : 0u];
        sum += known ? points : 0;
    }
    return sum;
}

// Mean over the points of element e (1-based, in range) of the values
// field[stride * p + component]. Without element types there is no
// element data: the element has no points and the mean is NaN.
double elementMean(const float *field, std::ptrdiff_t stride, std::ptrdiff_t component, int e) {
    const int *types = el_type;
    long long first = 0;
    int count = 0;
    if (types != nullptr) {
        first = pointOffset(types, e - 1);
        count = vulmora::typePoints(types[e - 1]);
    }
    std::ptrdiff_t index = static_cast<std::ptrdiff_t>(first) * stride + component;
    double sum = 0.0;
    for (int j = 0; j < count; ++j, index += stride)
        sum += static_cast<double>(field[index]);
    return sum / static_cast<double>(count);
}

// ---- the accessors' common steps --------------------------------------------

// Mean of a one-value-per-point field; the caller has tested the pointer.
double scalarMean(const float *field, int e) {
    if (e < 1 || e > nel) return 0.0;
    return elementMean(field, 1, 0, e);
}

// Stress component k of element e times stress_scale. The component count
// is tested first, then the pointer, then the element number.
double stressMean(int k, int e) {
    if (nstr1 != 6) vulmora_stop(VULMORA_MSG_STRESS_3D);
    const float *field = strsg;
    if (field == nullptr) vulmora_stop(VULMORA_MSG_STRSG);
    if (e < 1 || e > nel) return 0.0;
    double mean = elementMean(field, 6, k, e);
    return mean * stress_scale;
}

} // namespace

extern "C" {

// ---- void fraction and strain ------------------------------------------------

// The void-fraction message names fv_scale: the host's users know it so.
double getFractionVoid(int e) {
    const float *field = fraction_void;
    if (field == nullptr) vulmora_stop(VULMORA_MSG_FRACTION_VOID);
    return scalarMean(field, e);
}

double getEpstn(int e) {
    const float *field = epstn_new;
    if (field == nullptr) vulmora_stop(VULMORA_MSG_EPSTN);
    return scalarMean(field, e);
}

// ---- stress components ----------------------------------------------------------

double getStress1(int e) {
    return stressMean(0, e);
}
double getStress2(int e) {
    return stressMean(1, e);
}
double getStress3(int e) {
    return stressMean(2, e);
}
double getStress4(int e) {
    return stressMean(3, e);
}
double getStress5(int e) {
    return stressMean(4, e);
}
double getStress6(int e) {
    return stressMean(5, e);
}

} // extern "C"
