// getVar.h is included, but the definition takes a double: in C++ that is
// another function, with C++ linkage.
#include "getVar.h"

float func_density(double node) {
    return static_cast<float>(node);
}
