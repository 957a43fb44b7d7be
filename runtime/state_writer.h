/*
** state_writer.h - writing a state file (state_format.h).
**
** The one writer of the format, linked into every user-function library
** (the capture) and into the emulator (saving its sample). It takes a plain
** view of an exchange block and of the call, and a file descriptor; it
** needs no heap and calls only write(), so it may run in a crash signal
** handler.
**
** Compiles as C and as C++.
*/
#ifndef VULMORA_STATE_WRITER_H
#define VULMORA_STATE_WRITER_H

#include <stddef.h>

#include "state_format.h"

#ifdef __cplusplus
extern "C" {
#endif

/* An exchange block: the counts, selectors and scalars, and one pointer per
** section (null: the section is left out). data[VULMORA_SECTION_ncon] is the
** block's `ncon`, an array of nel row pointers. */
struct vulmora_state_view {
    int32_t nnod, nvnod, nel, nstr1, two_d, cur_node, location;
    int32_t user_unit_temp, user_unit_coor, user_unit_thermalconductivity, user_unit_time;
    int32_t user_unit_heatflux, user_unit_heattransfercoeff, user_unit_velocity;
    int32_t user_unit_massflowrate, tnodecontrol, vnodecontrol;
    double stress_scale, func_temp, loc_poro;
    const void *mic_models, *mic_cnt;
    const void *data[VULMORA_SECTION_COUNT];
    uint32_t micro_count;                            /* records in micro_values */
    uint32_t name_count;                             /* records in micro_names */
    int32_t sample_constituents, sample_auxiliaries; /* rows of sample_micro/_aux */
    uint32_t record_length;                          /* bytes in build_record */
};

/* The call made on that block and how it ended. */
struct vulmora_state_call {
    const char *writer;  /* what writes the file */
    const char *library; /* the user-function library, or null */
    const char *entry;   /* entry point without func_, or null */
    int32_t argument, trigger, outcome, signal, step, micro_complete;
    uint64_t result_bits;
    const char *stop_text; /* or null */
};

/* Write the state to `fd` from its current position, which must be 0 (the
** offsets are from the start of the file). 0 on success, -1 when a write
** failed. Async-signal-safe. */
int vulmora_state_write(int fd, const struct vulmora_state_view *view,
                        const struct vulmora_state_call *call);

/* What vulmora_state_save returns when it fails. */
#define VULMORA_STATE_SAVE_NOT_CREATED (-1) /* the partial file could not be made */
#define VULMORA_STATE_SAVE_NOT_WRITTEN (-2) /* writing or renaming it failed */

/* Save the state in `path` whole or not at all: written to "<path>.part", a
** new file with permission bits `mode` (never one that is there already,
** nor through a link), then renamed to `path`, replacing what is there;
** the partial file is removed when anything after its creation fails.
** `part` (`part_size` bytes, room for the path and 6 more) receives the
** partial file's name. 0 on success, else one of the codes above with
** errno telling why (ENAMETOOLONG: `part` is too small). Async-signal-safe. */
int vulmora_state_save(const char *path, unsigned mode, const struct vulmora_state_view *view,
                       const struct vulmora_state_call *call, char *part, size_t part_size);

#ifdef __cplusplus
}
#endif

#endif
