/*
** build_record.h - reading a library's build record: the text that
** vulmora_add_user_library puts into the section .vmrec of every user
** library (cmake/VulmoraBuildRecord.cmake), found by the section's name in
** an ELF file's section headers or a PE file's section table.
**
** Library code as well as the emulator's: the C library's stdio only, no
** heap. Every offset and size is checked against the file before it is
** read; a file that is no ELF or PE file, or is truncated, is refused.
**
** Compiles as C and as C++.
*/
#ifndef VULMORA_BUILD_RECORD_H
#define VULMORA_BUILD_RECORD_H

#include <stddef.h>

#ifdef __cplusplus
extern "C" {
#endif

#define VULMORA_RECORD_SECTION ".vmrec"
#define VULMORA_RECORD_MAX 32768 /* bytes of text, its NUL included */

/* What vulmora_record_read found. */
#define VULMORA_RECORD_FOUND 0 /* `text` holds the record */
#define VULMORA_RECORD_NONE 1  /* a library without the section */
#define VULMORA_RECORD_BAD 2   /* not readable, not a library, or damaged: `why` says */

/* Read the build record of the library file at `path` into `text` (`size`
** bytes, NUL-terminated; the record ends at its first NUL). On
** VULMORA_RECORD_BAD, `why` (`why_size` bytes) says what is wrong. */
int vulmora_record_read(const char *path, char *text, size_t size, char *why, size_t why_size);

#ifdef __cplusplus
}
#endif

#endif
