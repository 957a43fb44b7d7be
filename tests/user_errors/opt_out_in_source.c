/* The prototypes left out in one source only: too late, since getVar.h is
** read before every source. */
#define VULMORA_NO_ENTRY_PROTOTYPES
#include "getVar.h"

float func_density(double node);

float func_density(double node) {
    return (float)node;
}
