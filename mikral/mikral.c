/*
** mikral.c - the stand-in microstructure library.
**
** A catalogue maps global indices to names (one list for constituents, one
** for auxiliary variables); a model holds one value per active index and
** node. The four look-ups the user-function library imports read them and
** record every call in a small log. Plain C: the library needs nothing but
** the C library at run time.
*/

#include "mikral.h"

#include <limits.h>
#include <math.h>
#include <stddef.h>
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

/* ======================================================================
** Catalogue
** ==================================================================== */

/* One named global index. */
typedef struct MikralName {
    int g;
    char *name;
} MikralName;

/* A growable list of named global indices, in the order they were added. */
typedef struct MikralNameList {
    MikralName *items;
    size_t count;
    size_t capacity;
} MikralNameList;

struct MikralCatalog {
    MikralNameList constituents;
    MikralNameList auxiliaries;
};

/*
** Release every name of a list and the list's storage.
*/
static void names_free(MikralNameList *list) {
    size_t k;
    for (k = 0; k < list->count; ++k)
        free(list->items[k].name);
    free(list->items);
    list->items = NULL;
    list->count = list->capacity = 0;
}

/*
** The entry of global index g in a list, or NULL. Lists are short (one
** entry per named quantity), so a linear search is enough; it also lets g
** be any non-negative int without storage for the indices in between.
*/
static MikralName *names_find(const MikralNameList *list, int g) {
    size_t k;
    for (k = 0; k < list->count; ++k)
        if (list->items[k].g == g) return &list->items[k];
    return NULL;
}

/*
** A heap copy of a NUL-terminated text, or NULL when out of memory.
*/
static char *text_copy(const char *text) {
    size_t n = strlen(text) + 1;
    char *copy = (char *)malloc(n);
    if (copy) memcpy(copy, text, n);
    return copy;
}

/*
** Name global index g in a list, replacing an earlier name of g. Returns 0,
** or -1 for a bad argument or no memory (the list is then unchanged).
*/
static int names_set(MikralNameList *list, int g, const char *name) {
    MikralName *entry;
    char *copy;
    if (g < 0 || name == NULL) return -1;
    copy = text_copy(name);
    if (copy == NULL) return -1;
    entry = names_find(list, g);
    if (entry) {
        free(entry->name);
        entry->name = copy;
        return 0;
    }
    if (list->count == list->capacity) {
        size_t capacity = list->capacity ? 2 * list->capacity : 8;
        MikralName *items = (MikralName *)realloc(list->items, capacity * sizeof *items);
        if (items == NULL) {
            free(copy);
            return -1;
        }
        list->items = items;
        list->capacity = capacity;
    }
    list->items[list->count].g = g;
    list->items[list->count].name = copy;
    ++list->count;
    return 0;
}

/*
** The name of global index g in a list, or NULL.
*/
static const char *names_get(const MikralNameList *list, int g) {
    const MikralName *entry = names_find(list, g);
    return entry ? entry->name : NULL;
}

/*
** A new, empty catalogue.
*/
MikralCatalog *mikral_catalog_create(void) {
    return (MikralCatalog *)calloc(1, sizeof(MikralCatalog));
}

/*
** Release a catalogue and its names; NULL is allowed.
*/
void mikral_catalog_destroy(MikralCatalog *cat) {
    if (cat == NULL) return;
    names_free(&cat->constituents);
    names_free(&cat->auxiliaries);
    free(cat);
}

/*
** Name the constituent of global index g.
*/
int mikral_catalog_add_constituent(MikralCatalog *cat, int g, const char *name) {
    return cat ? names_set(&cat->constituents, g, name) : -1;
}

/*
** Name the auxiliary variable of global index g.
*/
int mikral_catalog_add_auxiliary(MikralCatalog *cat, int g, const char *name) {
    return cat ? names_set(&cat->auxiliaries, g, name) : -1;
}

/* ======================================================================
** Model
** ==================================================================== */

struct MikralModel {
    int nnodes;
    int nconstituents;
    int nauxiliary;
    double *constituents; /* value of (i, node) at i * nnodes + node */
    double *auxiliaries;
    int owned; /* the arrays are the model's own, freed with it */
};

/*
** A zeroed array of n * m doubles, or NULL when the size does not fit or
** memory runs out. An empty array is a valid one-byte block so that NULL
** always means failure.
*/
static double *values_create(int n, int m) {
    size_t count = (size_t)n * (size_t)m;
    if (n != 0 && count / (size_t)n != (size_t)m) return NULL;
    if (count > SIZE_MAX / sizeof(double)) return NULL;
    return (double *)calloc(count ? count : 1, sizeof(double));
}

/*
** A model with every value 0.0, or NULL.
*/
MikralModel *mikral_model_create(int nnodes, int nconstituents, int nauxiliary) {
    MikralModel *model;
    if (nnodes < 0 || nconstituents < 0 || nauxiliary < 0) return NULL;
    model = (MikralModel *)calloc(1, sizeof *model);
    if (model == NULL) return NULL;
    model->nnodes = nnodes;
    model->nconstituents = nconstituents;
    model->nauxiliary = nauxiliary;
    model->constituents = values_create(nconstituents, nnodes);
    model->auxiliaries = values_create(nauxiliary, nnodes);
    model->owned = 1;
    if (model->constituents == NULL || model->auxiliaries == NULL) {
        mikral_model_destroy(model);
        return NULL;
    }
    return model;
}

/*
** A model over the caller's arrays, or NULL.
*/
MikralModel *mikral_model_create_view(int nnodes, int nconstituents, int nauxiliary,
                                      double *constituents, double *auxiliaries) {
    MikralModel *model;
    if (nnodes < 0 || nconstituents < 0 || nauxiliary < 0) return NULL;
    if ((nnodes && nconstituents && !constituents) || (nnodes && nauxiliary && !auxiliaries))
        return NULL;
    model = (MikralModel *)calloc(1, sizeof *model);
    if (model == NULL) return NULL;
    model->nnodes = nnodes;
    model->nconstituents = nconstituents;
    model->nauxiliary = nauxiliary;
    model->constituents = constituents;
    model->auxiliaries = auxiliaries;
    return model;
}

/*
** Release a model; NULL is allowed.
*/
void mikral_model_destroy(MikralModel *model) {
    if (model == NULL) return;
    if (model->owned) {
        free(model->constituents);
        free(model->auxiliaries);
    }
    free(model);
}

/*
** The cell of (i, node) in an array of `count` active indices, or NULL when
** either is out of range.
*/
static double *model_cell(const MikralModel *model, double *values, int count, int i, int node) {
    if (i < 0 || i >= count || node < 0 || node >= model->nnodes) return NULL;
    return values + (size_t)i * (size_t)model->nnodes + (size_t)node;
}

/*
** Set the value of active constituent i at a node.
*/
int mikral_model_set_constituent(MikralModel *model, int i, int node, double value) {
    double *cell;
    if (model == NULL) return -1;
    cell = model_cell(model, model->constituents, model->nconstituents, i, node);
    if (cell == NULL) return -1;
    *cell = value;
    return 0;
}

/*
** Set the value of active auxiliary variable i at a node.
*/
int mikral_model_set_auxiliary(MikralModel *model, int i, int node, double value) {
    double *cell;
    if (model == NULL) return -1;
    cell = model_cell(model, model->auxiliaries, model->nauxiliary, i, node);
    if (cell == NULL) return -1;
    *cell = value;
    return 0;
}

/* ======================================================================
** Call log
** ==================================================================== */

static MikralCall call_log[MIKRAL_CALLS_KEPT];
static int call_first; /* ring position of the oldest kept call */
static int call_kept;  /* calls kept, at most MIKRAL_CALLS_KEPT */
static int call_total; /* calls since the last clear, saturating */

/*
** Record one call, dropping the oldest when the log is full.
*/
static void log_call(int function, void *handle, int index, int node) {
    MikralCall *slot;
    if (call_kept < MIKRAL_CALLS_KEPT) {
        slot = &call_log[(call_first + call_kept) % MIKRAL_CALLS_KEPT];
        ++call_kept;
    } else {
        slot = &call_log[call_first];
        call_first = (call_first + 1) % MIKRAL_CALLS_KEPT;
    }
    slot->function = function;
    slot->handle = handle;
    slot->index = index;
    slot->node = node;
    if (call_total < INT_MAX) ++call_total;
}

/*
** Number of calls kept.
*/
int mikral_calls_count(void) {
    return call_kept;
}

/*
** Number of calls since the last clear.
*/
int mikral_calls_total(void) {
    return call_total;
}

/*
** Kept call k, oldest first, or NULL.
*/
const MikralCall *mikral_calls_get(int k) {
    if (k < 0 || k >= call_kept) return NULL;
    return &call_log[(call_first + k) % MIKRAL_CALLS_KEPT];
}

/*
** Forget every call.
*/
void mikral_calls_clear(void) {
    call_first = call_kept = call_total = 0;
}

/* ======================================================================
** The four imported look-ups
** ==================================================================== */

/*
** Constituent name of global index g.
*/
const char *micCNT_GindToName_CNT(void *cnt, int g) {
    log_call(MIKRAL_CALL_NAME_CNT, cnt, g, -1);
    return cnt ? names_get(&((MikralCatalog *)cnt)->constituents, g) : NULL;
}

/*
** Auxiliary-variable name of global index g.
*/
const char *micCNT_GindToName_Aux(void *cnt, int g) {
    log_call(MIKRAL_CALL_NAME_AUX, cnt, g, -1);
    return cnt ? names_get(&((MikralCatalog *)cnt)->auxiliaries, g) : NULL;
}

/*
** Constituent fraction of active index i at a node.
*/
double micModels_gCNTibyAind_checkIndices(void *models, int i, int node) {
    MikralModel *model = (MikralModel *)models;
    const double *cell;
    log_call(MIKRAL_CALL_VALUE_CNT, models, i, node);
    if (model == NULL) return NAN;
    cell = model_cell(model, model->constituents, model->nconstituents, i, node);
    return cell ? *cell : NAN;
}

/*
** Auxiliary-variable value of active index i at a node.
*/
double micModels_vAuxibyAind_checkIndices(void *models, int i, int node) {
    MikralModel *model = (MikralModel *)models;
    const double *cell;
    log_call(MIKRAL_CALL_VALUE_AUX, models, i, node);
    if (model == NULL) return NAN;
    cell = model_cell(model, model->auxiliaries, model->nauxiliary, i, node);
    return cell ? *cell : NAN;
}
