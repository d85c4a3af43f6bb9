/* Export macro for the C interface of the programs and their shared libraries.
 *
 * Everything is compiled with hidden visibility; only declarations marked LV_API are visible
 * from outside a program or library. LV_API also gives C linkage to C++ callers, so a public
 * header can be included from C and from C++ alike. */
#ifndef LINDAVOX_PLATFORM_EXPORT_H
#define LINDAVOX_PLATFORM_EXPORT_H

#ifdef __cplusplus
#define LV_API extern "C" __attribute__((visibility("default")))
#else
#define LV_API extern __attribute__((visibility("default")))
#endif

/* A C++ class whose members are exported by name (the card editor's edit control). Which of its
 * symbols a program really exports is decided by the program's export list. */
#define LV_CLASS __attribute__((visibility("default")))

#endif
