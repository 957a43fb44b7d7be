/*
** points.c - entry points that read the host's fields, which a worker
** fills only when user code first reads them: the integration points'
** means one array each, every field at once, and a write into them.
*/
#include "getVar.h"

#include <pthread.h>
#include <stdlib.h>
#include <unistd.h>

#ifdef POINTS_OWN_HANDLER
/* Built so, the library puts a crash handler of its own before the
** emulator's when it is loaded: the points must then be filled at once. */
#include <signal.h>
#include <unistd.h>

static void own_handler(int sig) {
    (void)sig;
    _exit(7);
}

__attribute__((constructor)) static void install(void) {
    signal(SIGSEGV, own_handler);
    signal(SIGBUS, own_handler);
}
#endif

extern float *strsg;
extern float *t0, *t1, *fs0, *fs1, *vf_s0, *vf_s1, *f_vol0, *f_vol1, *jctn0, *jctn1;
extern float *fatigue_life, *u0, *v0, *w0, *u1, *v1, *w1, *p0, *p1, *mushy_strain;
extern float *fraction_void, *epstn_new, *el_vol;
extern double *x_cord, *y_cord, *z_cord;
extern int *el_type, *mat_id, **ncon;

/* FNV-1a over the bytes of n values. */
static unsigned long long mix(unsigned long long h, const void *data, unsigned long n) {
    const unsigned char *p = (const unsigned char *)data;
    unsigned long k;
    for (k = 0; k < n; ++k)
        h = (h ^ p[k]) * 1099511628211ull;
    return h;
}

/* The element the node's number names, counted round the mesh. */
static int element(int node) {
    return (node - 1) % getNel() + 1;
}

double func_density(int node) {
    return getFractionVoid(element(node));
}

double func_emissivity(int node) {
    return getEpstn(element(node));
}

double func_interhtransfer(int node) {
    return getStress3(element(node));
}

/* Reads nothing of the points before it writes: the write must still be
** caught as one into the host's array. */
double func_convehtransfer(int node) {
    if (node == 3) strsg[5] = 1.0f;
    return 0.0;
}

/* Every field at the node, the microstructure there, the points of the
** element the node names and the mesh there, hashed bit for bit: the test
** hashes the same values of a sample filled at once. */
double func_heatflux(int node) {
    const float *nodal[] = {t0,     t1,    fs0,   fs1,          vf_s0, vf_s1,       f_vol0,
                            f_vol1, jctn0, jctn1, fatigue_life, u0,    v0,          w0,
                            u1,     v1,    w1,    p0,           p1,    mushy_strain};
    const int e = element(node) - 1;
    unsigned long long h = 1469598103934665603ull;
    unsigned k;
    double micro[5];
    for (k = 0; k < sizeof nodal / sizeof *nodal; ++k)
        h = mix(h, &nodal[k][node - 1], sizeof(float));
    micro[0] = getFraction(0), micro[1] = getFraction(1), micro[2] = getFraction(2);
    micro[3] = getMicro(0), micro[4] = getMicro(1);
    h = mix(h, micro, sizeof micro);
    h = mix(h, &fraction_void[e * 8], 8 * sizeof(float));
    h = mix(h, &epstn_new[e * 8], 8 * sizeof(float));
    h = mix(h, &strsg[e * 48], 48 * sizeof(float));
    /* The mesh there: the node's coordinates, the element's corners,
    ** type, material and volume. */
    h = mix(h, &x_cord[node - 1], sizeof(double));
    h = mix(h, &y_cord[node - 1], sizeof(double));
    h = mix(h, &z_cord[node - 1], sizeof(double));
    h = mix(h, ncon[e], 8 * sizeof(int));
    h = mix(h, &el_type[e], sizeof(int));
    h = mix(h, &mat_id[e], sizeof(int));
    h = mix(h, &el_vol[e], sizeof(float));
    return (double)(h >> 11);
}

/* Four threads read the temperatures, which no call has read before in
** the step, at once: each must see them filled. */
static void *sum_t1(void *out) {
    double s = 0;
    int i, n = getNnod();
    for (i = 0; i < n; ++i)
        s += t1[i];
    *(double *)out = s;
    return 0;
}

double func_masssourceflowrate(int node) {
    pthread_t threads[4];
    double sums[4];
    int k;
    if (node != 1) return 0.0;
    for (k = 0; k < 4; ++k)
        pthread_create(&threads[k], 0, sum_t1, &sums[k]);
    for (k = 0; k < 4; ++k)
        pthread_join(threads[k], 0);
    for (k = 1; k < 4; ++k)
        if (sums[k] != sums[0]) return -1.0;
    /* With VULMORA_TEST_WRITE_T1 set, a write into the array the threads
    ** had filled: it must fault as any write into the host's arrays. */
    if (getenv("VULMORA_TEST_WRITE_T1")) t1[0] = 1.0f;
    return sums[0];
}

/* Level-0 temperatures handed unread to a system call: the bytes written,
** or -1 when the system found them unreadable. */
double func_texternal(int node) {
    int fd;
    long n;
    char path[] = "/tmp/vulmora-points-XXXXXX";
    if (node != 1) return 0.0;
    fd = mkstemp(path); /* a file, which reads what it is given */
    unlink(path);
    n = (long)write(fd, t0, sizeof(float) * (size_t)getNnod());
    close(fd);
    return (double)n;
}
