/*
** changed.c - func_density of two_entries.c, changed as a user changes a
** function: the host test comparing it with the saved run must fail.
*/
#include "getVar.h"

double func_density(int node) {
    return 2.0 * fconvertFromCGS(0, 254.0) + (double)node + (node % 3 == 0 ? 1.0 : 0.0);
}
