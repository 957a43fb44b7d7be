// An entry point with C++ linkage: getVar.h is not included, so nothing
// gives it C linkage.
double func_density(int node) {
    return 2.5 + 0.0 * node;
}
