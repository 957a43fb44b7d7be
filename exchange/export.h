/*
** export.h - the one export macro of the library.
**
** The library is built with hidden visibility: only what is marked with
** VULMORA_EXPORT (the exchange block, the two converters and the template
** entry points) reaches the dynamic symbol table, and the linker's export
** list (a version script on ELF, a module-definition file on Windows) pins
** the surface to exactly those names.
*/
#ifndef VULMORA_EXPORT_H
#define VULMORA_EXPORT_H

#if defined(_WIN32) || defined(__CYGWIN__)
/* The module-definition file names every export; no annotation needed. */
#define VULMORA_EXPORT
#else
#define VULMORA_EXPORT __attribute__((visibility("default")))
#endif

#endif
