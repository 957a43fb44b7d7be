/* A definition that conflicts with the prototype, in a source that does
** not include getVar.h. */
float func_density(double node) {
    return (float)node;
}
