// A C++ entry point for the debugger to stop in (getVar.h is read first).
double func_emissivity(int node) {
    double x = 0.01 * node;
    return 0.2 + x / (1.0 + x); // stop here
}
