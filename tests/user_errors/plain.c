/* A density: a library that builds, whatever the user's flags (-flto). */
double func_density(int node) {
    return getFs1(node) * 2.68 + (1.0 - getFs1(node)) * 2.39;
}
