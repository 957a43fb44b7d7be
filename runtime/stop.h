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

#ifdef __cplusplus
extern "C" {
#endif

#if defined(__GNUC__) || defined(__clang__)
#define VULMORA_NORETURN __attribute__((noreturn))
#define VULMORA_PRINTF(i) __attribute__((format(printf, i, i + 1)))
#else
#define VULMORA_NORETURN __declspec(noreturn)
#define VULMORA_PRINTF(i)
#endif

/* Print `format` (with its arguments) to stdout and end with status 1. */
VULMORA_NORETURN void vulmora_stop(const char *format, ...) VULMORA_PRINTF(1);

/* Print `text` to stdout as a printf format with no arguments; return. */
void vulmora_say(const char *text);

#ifdef __cplusplus
}
#endif

#endif
