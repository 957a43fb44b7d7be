/* A definition that conflicts with the prototype of getVar.h. */
#include "getVar.h"

float func_density(double node) {
    return (float)node;
}
