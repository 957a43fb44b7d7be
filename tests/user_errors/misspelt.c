/* A misspelt entry point next to a correct one. */
#include "getVar.h"

double func_density(int node) {
    return getT1(node) > 0.0 ? 2.5 : 2.7;
}

double func_densty(int node) {
    return 2.5 + 0.0 * node;
}
