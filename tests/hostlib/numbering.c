/*
** numbering.c - entry points for the numbering check: right ones that read
** the node's own fields, its coordinates and the elements around it, and
** the index mistakes users make.
*/
#include "getVar.h"

/* Wrong: the temperature of the node numbered one lower, as a loop that
** runs from 0 reads it. */
double func_density(int node) {
    return 2.7 - 2e-4 * (getT1(node - 1) - 300.0);
}

/* Wrong: the temperature of a fixed node (the thermocouple's on the user's
** own mesh) used at every node. */
double func_convehtransfer(int node) {
    (void)node;
    return 1e-4 * (1.0 + getT1(20) / 1000.0);
}

/* Right: the largest mean stress and void fraction of the elements at the
** node, found through their corners, with the node's own fields and
** microstructure. */
double func_emissivity(int node) {
    double most = -1e300, s;
    int e, k, n = getNel();
    for (e = 1; e <= n; ++e)
        for (k = 1; k <= 8; ++k)
            if (getElemNode(k, e) == node) {
                s = 1e-9 * getStress1(e) + getFractionVoid(e) + getMatId(e);
                if (s > most) most = s;
            }
    return most + getX(node) + 2.0 * getZ(node) + getFs1(node) + getU1(node) + getP1(node) +
           getFraction(1) + getMicro(0);
}

/* Right: a mechanical property of the local microstructure. */
double func_yieldstress(int node) {
    (void)node;
    return 1e8 * getFraction(1) + 1e6 * getDefect(1) + 1e4 * getMicro(1);
}

/* Wrong: the first nodes read in a loop from 0, as over a C array. */
double func_texternal(int node) {
    double sum = 0.0;
    int i;
    (void)node;
    for (i = 0; i < 4; ++i)
        sum += getT1(i);
    return sum / 4.0;
}

/* Wrong: an element past the last. */
double func_interhtransfer(int node) {
    return 1e-4 * (1.0 + getFractionVoid(getNel() + node));
}
