/*
** vulmora_probe.h - the counters the host emulator reads from a library.
**
** Under the emulator, the accessors count the answers that are silently
** wrong: a number out of range read as 0, a nodNum that found no node, a
** field the host left unset read as 0, a local-mode read of a quantity the
** registration call did not mark (a NaN the model may hide). The library learns that it runs
** under the emulator from its environment only (VULMORA_PROBE_ENV names an
** open file descriptor whose first page holds, at VULMORA_PROBE_OFFSET, a
** struct vulmora_probe with the magic); the exported surface is the same
** with or without. Nothing is set up, and nothing costs, until the first
** such answer; without the variable, or with a descriptor that is not such
** a file, the counts go nowhere. Plain C and C++.
*/
#ifndef VULMORA_PROBE_H
#define VULMORA_PROBE_H

#define VULMORA_PROBE_ENV "VULMORA_HOST_PROBE_FD"
#define VULMORA_PROBE_OFFSET 3072
#define VULMORA_PROBE_MAGIC "VMPROBE1" /* 8 bytes, no terminator in the file */

enum {
    VULMORA_PROBE_OUT_OF_RANGE = 0, /* an accessor's number out of range: 0 returned */
    VULMORA_PROBE_NODNUM_MISS = 1,  /* nodNum / nodNumFixed found no node */
    VULMORA_PROBE_UNSET_FIELD = 2,  /* a field the host did not set read as 0 */
    VULMORA_PROBE_UNMARKED = 3,     /* a local-mode read of a quantity not registered */
    VULMORA_PROBE_EVENTS = 4
};

/* The emulator fills the local-mode slots of the quantities a registration
   call did not mark with quiet NaNs carrying this tag in their upper bits
   (the kind and index below it), so a read of one can be told apart from a
   NaN the model itself gives. */
#define VULMORA_PROBE_UNMARKED_TAG 0x7ff8000056000000ULL
#define VULMORA_PROBE_UNMARKED_MASK 0x7fffffffff000000ULL

struct vulmora_probe {
    char magic[8];
    unsigned long long counts[VULMORA_PROBE_EVENTS];
    unsigned long long first_unmarked; /* the bits of the first such NaN read */
    /* The step the emulator's calls are at (the emulator writes it). */
    int step;
    /* The first out-of-range call: the number it was given, the node being
       evaluated then (cur_node + 1), the step, and the accessor's name. */
    int out_of_range_number, out_of_range_node, out_of_range_step;
    char out_of_range_accessor[24];
};

#ifdef __cplusplus
extern "C" {
#endif
/* Count one event (hidden: library-internal). */
void vulmora_probe_note(int event);
/* Count a number out of range given to `accessor`, and keep the first. */
void vulmora_probe_out_of_range(const char *accessor, int number);
/* A NaN read in local mode: counted when it is the emulator's tagged one. */
void vulmora_probe_local_nan(double value);
#ifdef __cplusplus
}
#endif

#endif
