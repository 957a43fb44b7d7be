/*
** site_user.c - user code of a site library: three mechanical properties
** that read the microstructure.
*/

#include "getVar.h"

/* The fraction of active constituent 2 at the current node. */
double func_mechprop1(int node) {
    (void)node;
    return getFraction(2);
}

/* The auxiliary variable of active index 1 at the current node. */
double func_mechprop2(int node) {
    (void)node;
    return getMicro(1);
}

/* Asks for the inactive constituent of global index 3: stops. */
double func_mechprop3(int node) {
    (void)node;
    return getFraction(-4);
}
