/*
 * Korvane client library: the exported functions through which programs
 * drive the Korvane daemon.
 *
 * Conventions shared by every function:
 *  - Text inputs are NUL-terminated UTF-16 (KorvaneChar); a null pointer is
 *    taken as the empty text unless a function says it rejects it.
 *  - Every function returns 1 for success and 0 for failure, and leaves its
 *    outputs untouched when it returns 0.
 *  - Output texts are UTF-8, handed out through a char** in a new buffer of
 *    the text's length plus one, zero-terminated. An empty text is handed out
 *    as a null pointer. The caller owns each buffer and frees it: with
 *    HeapFree(GetProcessHeap(), 0, p) on Windows, with free(p) elsewhere.
 *  - Every call makes its own connection to the daemon and closes it before
 *    returning; functions may be called from any thread.
 */
#ifndef KORVANE_KORVANE_H
#define KORVANE_KORVANE_H

#include <stdint.h>

#ifdef _WIN32
#include <wchar.h>
typedef wchar_t KorvaneChar;
#define KORVANE_API __declspec(dllimport)
#else
#ifdef __cplusplus
typedef char16_t KorvaneChar;
#else
#include <uchar.h>
typedef char16_t KorvaneChar;
#endif
#define KORVANE_API __attribute__((visibility("default")))
#endif

#ifdef KORVANE_BUILDING_LIBRARY
#undef KORVANE_API
#ifdef _WIN32
#define KORVANE_API
#else
#define KORVANE_API __attribute__((visibility("default")))
#endif
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* ---- Daemon control ---------------------------------------------------- */

/*
 * Starts one more daemon process (KorvaneBkgProc beside the library) and
 * returns without waiting for it. 1 when the process was created, 0 when the
 * program is missing or cannot be started. Whether one daemon is enough is the
 * daemon's business: two calls start two processes.
 */
KORVANE_API int32_t Korvane_StartDaemon(void);

/*
 * Asks the daemon to stop. 1 when the request was delivered (or the daemon
 * broke the connection while going down); 0 when no daemon is reachable,
 * which is known at once, or when it did not answer within 20 seconds.
 */
KORVANE_API int32_t Korvane_StopDaemon(void);

/*
 * Asks the daemon for the error text that key selects (key may be null: the
 * empty key). 1 when the daemon answered, or closed the connection without a
 * word; then *errorText, when errorText is not null, receives a new buffer
 * with the text, or null when there is no text or the buffer could not be
 * allocated. 0 when the daemon could not be asked; *errorText is untouched.
 * The caller frees the buffer.
 */
KORVANE_API int32_t Korvane_GetErrorText(const char* key, char** errorText);

#ifdef __cplusplus
}
#endif

#endif /* KORVANE_KORVANE_H */
