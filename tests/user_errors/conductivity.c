/* A thermal conductivity, which this solver takes from its material data,
** beside a density. */
double func_conductivity(int node) {
    return 0.4 + 0.0 * node;
}

double func_density(int node) {
    return 2.6 + 0.0 * node;
}
