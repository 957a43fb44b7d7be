/*
** state_format.h - the state file: a whole solver state as a user-function
** library sees it, plus the call that was made on it.
**
** Layout (every integer in the writer's byte order, told by byte_order):
**
**   offset 0                  struct vulmora_state_header
**   offset header_size        section_count x struct vulmora_state_section
**   each section's offset     its data: count items of item_size bytes,
**                             at a multiple of 64 bytes, zero padding between
**
** A section is one array of the exchange block under the variable's own
** name ("t1", "x_cord", "strsg", ...), or one of the extra sections below.
** A pointer the host left null has no section. The extents follow from the
** counts of the header and the per-type tables:
**
**   nnod          x_cord y_cord z_cord t0 t1 fs0 fs1 vf_s0 vf_s1 f_vol0
**                 f_vol1 jctn0 jctn1 fatigue_life
**   nvnod         u0 v0 w0 u1 v1 w1 p0 p1 mushy_strain
**   nel           el_type mat_id el_vol
**   sum of el_nnode[el_type[e]]   ncon (the rows one after another)
**   P = sum of el_ngp[el_type[e]] fraction_void epstn_new; strsg P x nstr1
**   203           mic_lastp (entries 0-2, 100 constituents, 100 auxiliary)
**   200           loc_micro (VULMORA_LOC_MICRO_LEN of exchange.h)
**   5 x 101, 5 x 21   name_mechprop, unit_mechprop (bytes; exchange.h)
**   12            el_nnode, el_ngp (VULMORA_NTYPES; the tables the extents
**                 were made with)
**   any           micro_values: struct vulmora_state_micro, the values the
**                 call obtained from the microstructure library
**   any           micro_names: struct vulmora_state_name, the names it obtained
**   any           sample_micro, sample_aux: the emulator's whole
**                 microstructure (constituent c of node i at c * nnod + i)
**   any           build_record: the library's build record (bytes of text,
**                 no NUL; runtime/build_record.h), when it has one
**
** Compiles as C and as C++.
*/
#ifndef VULMORA_STATE_FORMAT_H
#define VULMORA_STATE_FORMAT_H

#include <stdint.h>

#include "../include/vulmora/vulmora_layout.h"

#ifdef __cplusplus
extern "C" {
#endif

#define VULMORA_STATE_MAGIC "VULMSTAT" /* 8 bytes, no terminator in the file */
#define VULMORA_STATE_VERSION 1u
#define VULMORA_STATE_BYTE_ORDER 0x01020304u /* reads 0x04030201 when swapped */
#define VULMORA_STATE_ALIGN 64u
#define VULMORA_STATE_MAX_SECTIONS 64u
#define VULMORA_STATE_LASTP_LEN VULMORA_LASTP_LEN /* the exchange layout's */
#define VULMORA_STATE_NAME_LEN 24
#define VULMORA_STATE_TEXT_LEN 1024
#define VULMORA_STATE_PATH_LEN 1024

/* Every section: name, data type and extent. The writer and the reader are
** both made from these lists. The first names arrays of the exchange block
** (each section is named after its variable); the second the extra ones. */
#define VULMORA_STATE_SECTIONS(X) VULMORA_STATE_BLOCK_SECTIONS(X) VULMORA_STATE_EXTRA_SECTIONS(X)
#define VULMORA_STATE_BLOCK_SECTIONS(X)                                                            \
    X(el_type, I32, NEL)                                                                           \
    X(mat_id, I32, NEL)                                                                            \
    X(ncon, I32, CONN)                                                                             \
    X(x_cord, F64, NNOD)                                                                           \
    X(y_cord, F64, NNOD)                                                                           \
    X(z_cord, F64, NNOD)                                                                           \
    X(el_vol, F32, NEL)                                                                            \
    X(t0, F32, NNOD)                                                                               \
    X(t1, F32, NNOD)                                                                               \
    X(fs0, F32, NNOD)                                                                              \
    X(fs1, F32, NNOD)                                                                              \
    X(vf_s0, F32, NNOD)                                                                            \
    X(vf_s1, F32, NNOD)                                                                            \
    X(f_vol0, F32, NNOD)                                                                           \
    X(f_vol1, F32, NNOD)                                                                           \
    X(jctn0, F32, NNOD)                                                                            \
    X(jctn1, F32, NNOD)                                                                            \
    X(fatigue_life, F32, NNOD)                                                                     \
    X(u0, F32, NVNOD)                                                                              \
    X(v0, F32, NVNOD)                                                                              \
    X(w0, F32, NVNOD)                                                                              \
    X(u1, F32, NVNOD)                                                                              \
    X(v1, F32, NVNOD)                                                                              \
    X(w1, F32, NVNOD)                                                                              \
    X(p0, F32, NVNOD)                                                                              \
    X(p1, F32, NVNOD)                                                                              \
    X(mushy_strain, F32, NVNOD)                                                                    \
    X(fraction_void, F32, POINTS)                                                                  \
    X(epstn_new, F32, POINTS)                                                                      \
    X(strsg, F32, STRESS)                                                                          \
    X(mic_lastp, I32, LASTP)                                                                       \
    X(loc_micro, F64, LOC_MICRO)                                                                   \
    X(name_mechprop, BYTES, NAME_MECHPROP)                                                         \
    X(unit_mechprop, BYTES, UNIT_MECHPROP)                                                         \
    X(el_nnode, I32, TYPES)                                                                        \
    X(el_ngp, I32, TYPES)
#define VULMORA_STATE_EXTRA_SECTIONS(X)                                                            \
    X(micro_values, MICRO, RECORDS)                                                                \
    X(micro_names, NAME, NAMES)                                                                    \
    X(sample_micro, F64, SAMPLE_MICRO)                                                             \
    X(sample_aux, F64, SAMPLE_AUX)                                                                 \
    X(build_record, BYTES, TEXT)

enum vulmora_state_section_id {
#define VULMORA_STATE_ID(name, type, extent) VULMORA_SECTION_##name,
    VULMORA_STATE_SECTIONS(VULMORA_STATE_ID)
#undef VULMORA_STATE_ID
        VULMORA_SECTION_COUNT
};

/* What a section's item count follows from. */
enum vulmora_state_extent {
    VULMORA_EXTENT_NNOD,          /* nnod */
    VULMORA_EXTENT_NVNOD,         /* nvnod */
    VULMORA_EXTENT_NEL,           /* nel */
    VULMORA_EXTENT_CONN,          /* sum over elements of el_nnode[el_type] */
    VULMORA_EXTENT_POINTS,        /* sum over elements of el_ngp[el_type] */
    VULMORA_EXTENT_STRESS,        /* points x nstr1 */
    VULMORA_EXTENT_LASTP,         /* VULMORA_STATE_LASTP_LEN */
    VULMORA_EXTENT_LOC_MICRO,     /* 200 */
    VULMORA_EXTENT_NAME_MECHPROP, /* 5 x 101 */
    VULMORA_EXTENT_UNIT_MECHPROP, /* 5 x 21 */
    VULMORA_EXTENT_TYPES,         /* 12 */
    VULMORA_EXTENT_RECORDS,       /* any number of micro records */
    VULMORA_EXTENT_NAMES,         /* any number of name records */
    VULMORA_EXTENT_SAMPLE_MICRO,  /* sample_constituents x nnod */
    VULMORA_EXTENT_SAMPLE_AUX,    /* sample_auxiliaries x nnod */
    VULMORA_EXTENT_TEXT           /* any number of bytes */
};

/* Types of section data. */
enum vulmora_state_type {
    VULMORA_STATE_I32 = 1,
    VULMORA_STATE_F32 = 2,
    VULMORA_STATE_F64 = 3,
    VULMORA_STATE_BYTES = 4,
    VULMORA_STATE_MICRO = 5, /* struct vulmora_state_micro */
    VULMORA_STATE_NAME = 6   /* struct vulmora_state_name */
};

/* Why the file was written. */
enum vulmora_state_trigger {
    VULMORA_TRIGGER_SAVED = 0,     /* a whole state saved on purpose (the sample) */
    VULMORA_TRIGGER_NONFINITE = 1, /* the entry point returned NaN or an infinity */
    VULMORA_TRIGGER_CRASH = 2,     /* the process received a crash signal */
    VULMORA_TRIGGER_STOP = 3,      /* the process stopped (fatal message, exit 1) */
    VULMORA_TRIGGER_REQUEST = 4    /* named by VULMORA_CAPTURE_AT, before the call */
};

/* How the captured call ended. */
enum vulmora_state_outcome {
    VULMORA_OUTCOME_NONE = 0,     /* not known: no call, or saved before it */
    VULMORA_OUTCOME_RETURNED = 1, /* result_bits hold the double returned */
    VULMORA_OUTCOME_SIGNAL = 2,   /* signal holds the signal number */
    VULMORA_OUTCOME_STOPPED = 3   /* stop_text holds what was printed; status 1 */
};

/* Microstructure look-ups recorded during the call. */
enum vulmora_state_micro_kind {
    VULMORA_MICRO_CONSTITUENT = 0, /* micModels_gCNTibyAind_checkIndices */
    VULMORA_MICRO_AUXILIARY = 1    /* micModels_vAuxibyAind_checkIndices */
};

struct vulmora_state_micro {
    int32_t kind;  /* enum vulmora_state_micro_kind */
    int32_t index; /* active index */
    int32_t node;  /* 0-based node passed to the look-up */
    int32_t reserved;
    double value; /* what the look-up returned */
};

/* A name the call obtained from the microstructure library (only on the
** way to a fatal message for an inactive index). */
#define VULMORA_STATE_MICRO_NAME_LEN 56
struct vulmora_state_name {
    int32_t kind;                            /* enum vulmora_state_micro_kind */
    int32_t index;                           /* global index */
    char name[VULMORA_STATE_MICRO_NAME_LEN]; /* NUL-terminated, truncated; "" for none */
};

struct vulmora_state_section {
    char name[VULMORA_STATE_NAME_LEN]; /* NUL-terminated */
    uint32_t type;                     /* enum vulmora_state_type */
    uint32_t item_size;                /* bytes per item: 4, 4, 8, 1, 24, 64 */
    uint64_t count;                    /* items */
    uint64_t offset;                   /* from the start of the file, 64-byte aligned */
};

struct vulmora_state_header {
    char magic[8];       /* VULMORA_STATE_MAGIC */
    uint32_t version;    /* VULMORA_STATE_VERSION */
    uint32_t byte_order; /* VULMORA_STATE_BYTE_ORDER */
    uint32_t header_size;
    uint32_t section_count;
    uint64_t file_size;
    char writer[64];                      /* what wrote the file */
    char library[VULMORA_STATE_PATH_LEN]; /* the user-function library, "" if none */
    /* ---- exchange block: counts, flags and selectors ---- */
    int32_t nnod, nvnod, nel, nstr1, two_d, cur_node, location;
    int32_t user_unit_temp, user_unit_coor, user_unit_thermalconductivity, user_unit_time;
    int32_t user_unit_heatflux, user_unit_heattransfercoeff, user_unit_velocity;
    int32_t user_unit_massflowrate, tnodecontrol, vnodecontrol;
    int32_t reserved0;
    /* ---- scalars ---- */
    double stress_scale, func_temp, loc_poro;
    uint64_t mic_models, mic_cnt; /* the handles as the host set them (not replayed) */
    /* ---- the call ---- */
    char entry[32];         /* entry point without func_, "" for a saved state */
    int32_t argument;       /* node (or the flag of externalcompute) */
    int32_t trigger;        /* enum vulmora_state_trigger */
    int32_t outcome;        /* enum vulmora_state_outcome */
    int32_t signal;         /* VULMORA_OUTCOME_SIGNAL */
    uint64_t result_bits;   /* VULMORA_OUTCOME_RETURNED */
    int32_t step;           /* the time step, 1 for the first; 0 when unknown */
    int32_t micro_complete; /* 1: micro_values holds every look-up of the call */
    int32_t sample_constituents, sample_auxiliaries; /* rows of sample_micro/_aux */
    char stop_text[VULMORA_STATE_TEXT_LEN];          /* VULMORA_OUTCOME_STOPPED, truncated */
    char reserved[64];
};

/* Name, data type and extent of section `id` (an enum vulmora_state_section_id),
** made from the list above: the writer and the reader share it. */
struct vulmora_state_section_info {
    const char *name;
    uint32_t type; /* enum vulmora_state_type */
    int extent;    /* enum vulmora_state_extent */
};
static inline struct vulmora_state_section_info vulmora_state_section_info_of(int id) {
    static const struct vulmora_state_section_info table[VULMORA_SECTION_COUNT] = {
#define VULMORA_STATE_INFO(name, type, extent)                                                     \
    {#name, VULMORA_STATE_##type, VULMORA_EXTENT_##extent},
        VULMORA_STATE_SECTIONS(VULMORA_STATE_INFO)
#undef VULMORA_STATE_INFO
    };
    return table[id];
}

/* Bytes per item of a section whose data are of type `type`. */
static inline uint32_t vulmora_state_item_size(uint32_t type) {
    switch (type) {
    case VULMORA_STATE_F64:
        return 8;
    case VULMORA_STATE_BYTES:
        return 1;
    case VULMORA_STATE_MICRO:
        return (uint32_t)sizeof(struct vulmora_state_micro);
    case VULMORA_STATE_NAME:
        return (uint32_t)sizeof(struct vulmora_state_name);
    default:
        return 4;
    }
}

#ifdef __cplusplus
}
#endif

#endif
