/*
** stop.h - the fatal stop and the library's console output.
**
** Every fatal condition of the library goes through vulmora_stop: the text
** is printed as the printf format, then the process ends through exit(1),
** so registered exit handlers run and stdout is flushed. Nothing else in
** the library calls exit.
*/
#ifndef VULMORA_STOP_H
#define VULMORA_STOP_H

/* The public declaration of vulmora_stop, with its attributes. */
#include "../include/vulmora/getVar.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Print `text` to stdout as a printf format with no arguments; return. */
void vulmora_say(const char *text);

#ifdef __cplusplus
}
#endif

#endif
