// An entry point inside a namespace of the user's: another function than
// the prototype's, with C++ linkage.
namespace props {
double func_density(int node) {
    return 2.5 + 0.0 * node;
}
} // namespace props
