/*
** mikral.h - the stand-in microstructure library.
**
** A site's own microstructure library provides the four look-ups that the
** user-function library imports (first block). The stand-in provides them
** too, plus a small API through which a host (the tests, the host
** emulator) builds a model: a catalogue of names by global index (the
** object behind the micCNTA handle) and a model of active constituents
** and auxiliary variables with one value per node (the object behind the
** micModelsA handle).
**
** Compiles as C and as C++.
*/
#ifndef MIKRAL_H
#define MIKRAL_H

#if defined(_WIN32) || defined(__CYGWIN__)
#ifdef MIKRAL_BUILDING
#define MIKRAL_API __declspec(dllexport)
#else
#define MIKRAL_API __declspec(dllimport)
#endif
#else
#define MIKRAL_API __attribute__((visibility("default")))
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* ======================================================================
** The four look-ups the user-function library imports
** ==================================================================== */

/* Name of the constituent of global index g in catalogue `cnt` (a
** MikralCatalog in the stand-in); NULL when `cnt` is NULL or g has no name.
** The text stays valid until the catalogue is destroyed or g renamed. */
MIKRAL_API const char *micCNT_GindToName_CNT(void *cnt, int g);
/* Name of the auxiliary variable of global index g; as above. */
MIKRAL_API const char *micCNT_GindToName_Aux(void *cnt, int g);
/* Fraction of the constituent of active index i at 0-based node `node` of
** `models` (a MikralModel in the stand-in); NaN when `models` is NULL or i
** or node is out of range. */
MIKRAL_API double micModels_gCNTibyAind_checkIndices(void *models, int i, int node);
/* Value of the auxiliary variable of active index i at 0-based `node`; as
** above. */
MIKRAL_API double micModels_vAuxibyAind_checkIndices(void *models, int i, int node);

/* ======================================================================
** Building a model (stand-in only)
** ==================================================================== */

typedef struct MikralCatalog MikralCatalog; /* names by global index */
typedef struct MikralModel MikralModel;     /* values by active index and node */

/* An empty catalogue; NULL when out of memory. */
MIKRAL_API MikralCatalog *mikral_catalog_create(void);
MIKRAL_API void mikral_catalog_destroy(MikralCatalog *cat);
/* Name the constituent / auxiliary variable of global index g (g >= 0).
** The name is copied. Returns 0, or -1 for a bad argument or no memory. */
MIKRAL_API int mikral_catalog_add_constituent(MikralCatalog *cat, int g, const char *name);
MIKRAL_API int mikral_catalog_add_auxiliary(MikralCatalog *cat, int g, const char *name);

/* A model of nnodes nodes with nconstituents active constituents and
** nauxiliary active auxiliary variables, every value 0.0; NULL when an
** argument is negative or memory runs out. */
MIKRAL_API MikralModel *mikral_model_create(int nnodes, int nconstituents, int nauxiliary);
MIKRAL_API void mikral_model_destroy(MikralModel *model);
/* Set the value of active constituent / auxiliary variable i at 0-based
** node `node`. Returns 0, or -1 when i or node is out of range. */
MIKRAL_API int mikral_model_set_constituent(MikralModel *model, int i, int node, double value);
MIKRAL_API int mikral_model_set_auxiliary(MikralModel *model, int i, int node, double value);
/* A model that reads (and sets) the caller's arrays in place instead of
** its own: the value of (i, node) is constituents[i * nnodes + node] and
** auxiliaries[i * nnodes + node]. The arrays must outlive the model, which
** never frees them. NULL for a negative count, a NULL array with a count
** above 0, or no memory. */
MIKRAL_API MikralModel *mikral_model_create_view(int nnodes, int nconstituents, int nauxiliary,
                                                 double *constituents, double *auxiliaries);

/* ======================================================================
** Call log (stand-in only): every call of the four look-ups is recorded,
** so that a test can see which arguments reached the library.
** ==================================================================== */

enum {
    MIKRAL_CALL_NAME_CNT = 1, /* micCNT_GindToName_CNT */
    MIKRAL_CALL_NAME_AUX,     /* micCNT_GindToName_Aux */
    MIKRAL_CALL_VALUE_CNT,    /* micModels_gCNTibyAind_checkIndices */
    MIKRAL_CALL_VALUE_AUX     /* micModels_vAuxibyAind_checkIndices */
};

typedef struct MikralCall {
    int function; /* one of MIKRAL_CALL_* */
    void *handle; /* first argument, as received */
    int index;    /* global (name look-ups) or active (value look-ups) index */
    int node;     /* node of a value look-up; -1 for a name look-up */
} MikralCall;

/* The log keeps the last MIKRAL_CALLS_KEPT calls; older ones are dropped. */
#define MIKRAL_CALLS_KEPT 1024

/* Number of calls kept (at most MIKRAL_CALLS_KEPT): calls 0 to count - 1
** can be read with mikral_calls_get. */
MIKRAL_API int mikral_calls_count(void);
/* Number of calls made since the last clear, dropped ones included
** (saturates at INT_MAX). */
MIKRAL_API int mikral_calls_total(void);
/* Call k (0 = oldest kept); NULL when k is out of range. */
MIKRAL_API const MikralCall *mikral_calls_get(int k);
MIKRAL_API void mikral_calls_clear(void);

#ifdef __cplusplus
}
#endif

#endif
