/* With the prototypes left out for the whole library, a site defines its
** own calling convention; the build still exports the entry point (but
** would not compile it if the prototypes were there). */
#include "getVar.h"

float func_density(double node);

float func_density(double node) {
    return (float)node;
}
