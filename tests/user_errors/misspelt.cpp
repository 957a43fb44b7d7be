// Misspelt entry points in C++: with C linkage, and with C++ linkage.
#include <vulmora/getVar.h>

extern "C" double func_youngsmodulu(int node) {
    return 7.0e11 + 0.0 * node;
}

double func_yieldstres(int node) {
    return 1.5e9 + 0.0 * node;
}
