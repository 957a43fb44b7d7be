/*
** two_entries.c - a user library in plain C that programs two entry points
** and leaves the others to the template. It is also the plain-C compile
** test of getVar.h (built with -std=c99 -Wpedantic).
*/
#include "getVar.h"

#include <string.h>

/* A helper of the user's own: linked into the library, never exported. */
double userlib_twice(double x) {
    return 2.0 * x;
}

/* Density: twice 254 cm in the user's length unit, plus the node number. */
double func_density(int node) {
    return userlib_twice(fconvertFromCGS(0, 254.0)) + (double)node;
}

/* A mechanical property of the user's own: names itself, returns a constant. */
double func_mechprop2(int node) {
    (void)node;
    strcpy(name_mechprop[1], "hardness");
    strcpy(unit_mechprop[1], "HV");
    return 42.0;
}
