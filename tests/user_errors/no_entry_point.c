/* Helpers only: no entry point at all. */
#include "getVar.h"

double helper_density(int node);

double helper_density(int node) {
    return getT1(node);
}
