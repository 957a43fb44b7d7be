/*
** site_mikral.c - a site's own microstructure library, for the tests.
**
** It answers the four look-ups in its own way: every value encodes the
** handle, the active index and the node it received, and every name the
** global index, so a test can tell this library's answers from the
** stand-in's and see which arguments arrived.
*/

#include "mikral.h"

#include <stdint.h>
#include <stdio.h>

/*
** "site constituent <g>" (the text lives until the next call).
*/
const char *micCNT_GindToName_CNT(void *cnt, int g) {
    static char name[64];
    (void)cnt;
    snprintf(name, sizeof name, "site constituent %d", g);
    return name;
}

/*
** "site variable <g>" (the text lives until the next call).
*/
const char *micCNT_GindToName_Aux(void *cnt, int g) {
    static char name[64];
    (void)cnt;
    snprintf(name, sizeof name, "site variable %d", g);
    return name;
}

/*
** handle * 1e6 + i * 1000 + node + 0.5.
*/
double micModels_gCNTibyAind_checkIndices(void *models, int i, int node) {
    return (double)(uintptr_t)models * 1e6 + (double)i * 1000.0 + (double)node + 0.5;
}

/*
** The negated constituent answer.
*/
double micModels_vAuxibyAind_checkIndices(void *models, int i, int node) {
    return -micModels_gCNTibyAind_checkIndices(models, i, node);
}
