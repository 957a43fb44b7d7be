/* A user's density, as the build record test builds it twice. */
double func_density(int node) {
    return 7000.0 + node;
}
