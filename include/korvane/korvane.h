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
 *  - Where the daemon receives several arguments joined with "|" (the hosting
 *    functions, Korvane_Checkout, and the repository functions marked below),
 *    an argument that holds "|" would be read as several arguments. Such a
 *    call returns 0 at once, sends nothing and writes no output.
 */
#ifndef KORVANE_KORVANE_H
#define KORVANE_KORVANE_H

#include <stdint.h>

/*
 * The version of this header and of the library built with it. The build
 * checks that these agree with the project's version, and the library file
 * carries the same numbers (libkorvane.so.MAJOR.MINOR.PATCH).
 */
#define KORVANE_VERSION_MAJOR 1
#define KORVANE_VERSION_MINOR 0
#define KORVANE_VERSION_PATCH 0
#define KORVANE_VERSION "1.0.0"

/*
 * KORVANE_TEXT("...") is a text literal of KorvaneChar on either platform.
 * On Windows it is an L"" literal (any C or C++). Elsewhere it is a u""
 * literal, which needs C11 or C++11. Under C99 the header still declares
 * every function, with KorvaneChar as uint_least16_t (what char16_t is in
 * C11), but KORVANE_TEXT is not defined: build the texts some other way.
 */
#ifdef _WIN32
#include <wchar.h>
typedef wchar_t KorvaneChar;
#define KORVANE_TEXT(literal) L##literal
#define KORVANE_API __declspec(dllimport)
#else
#if defined(__cplusplus)
typedef char16_t KorvaneChar;
#define KORVANE_TEXT(literal) u##literal
#elif defined(__STDC_VERSION__) && __STDC_VERSION__ >= 201112L
#include <uchar.h>
typedef char16_t KorvaneChar;
#define KORVANE_TEXT(literal) u##literal
#else
typedef uint_least16_t KorvaneChar;
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

/* ---- Activation and status ------------------------------------------- */

/*
 * Activation modes of a folder, as Korvane_ActivatePath takes them and as
 * the status record reports them (0: not activated).
 */
enum KorvaneActivationMode {
  KORVANE_MODE_KORVANE_DIALOGS = 1,
  KORVANE_MODE_TORTOISESVN_DIALOGS = 2,
  KORVANE_MODE_AUTOMATIC_COMMIT_UPDATE = 3
};

/*
 * The daemon's list of activated folders, in the daemon's own format, in a
 * new buffer (null when the list is empty or the daemon closed without a
 * word). 0 when the daemon could not be asked, when list is null, or when
 * the buffer could not be allocated.
 */
KORVANE_API int32_t Korvane_GetActivations(char** list);

/*
 * Activates a folder in mode 1, 2 or 3. 0 at once, sending nothing, for a
 * null path or another mode; otherwise 1 when the command was written to the
 * daemon's pipe (the daemon does not report back whether it carried it out).
 */
KORVANE_API int32_t Korvane_ActivatePath(const KorvaneChar* path, int32_t mode);

/* Deactivates a folder. 0 at once for a null path; else as above. */
KORVANE_API int32_t Korvane_DeactivatePath(const KorvaneChar* path);

/*
 * Asks the daemon to check out url into path (null: the empty text) in the
 * given mode, sent as its decimal digits without any check. 1 when the
 * command was written to the daemon's pipe; 0, sending nothing, when url or
 * path holds "|".
 */
KORVANE_API int32_t Korvane_Checkout(const KorvaneChar* url, const KorvaneChar* path, uint8_t mode);

/*
 * The activation status of a folder, which starts the daemon when none runs
 * and waits up to a second for it. One process starts the daemon this way at
 * most once per 10 seconds, whatever the number of calls, threads or menus
 * asking, and never from below medium integrity. On 1, *status receives a new
 * buffer with the whole status record: the decimal mode (0 to 3), then the
 * daemon's three status texts, each followed by "|" ("1|a|b|c|"); a reply
 * too short to read gives "0||||". 0 for a null path, when the daemon could
 * not be asked, when status is null, or when the buffer could not be
 * allocated.
 */
KORVANE_API int32_t Korvane_GetStatus(const KorvaneChar* path, char** status);

/* ---- Working copies ---------------------------------------------------- */

/*
 * 1 when path (absolute) lies in a Subversion working copy that records it,
 * 0 otherwise, also for a null, empty or relative path. Works locally: the
 * daemon is not asked.
 */
KORVANE_API int32_t Korvane_IsVersioned(const KorvaneChar* path);

/* ---- Hosting service ----------------------------------------------------- */

/*
 * Requests about spaces on the hosting service, which the daemon carries
 * out. The text arguments (null: empty) are sent as they are, joined with
 * "|" (an argument holding "|" gives 0 and sends nothing); the first three fields of the daemon's reply come back in out1, out2
 * and out3 (each in a new buffer, or null for an empty or missing field, a
 * null output address, or a buffer that could not be allocated). 1 when the
 * daemon answered (or closed the connection without a word), 0 when it could
 * not be asked; on 0 no output is written.
 *
 * Korvane_ListSpaces puts "Daemon is not running or connection to daemon
 * timed out." in out2 when the daemon closed without a word or its reply had
 * one field only.
 */
KORVANE_API int32_t Korvane_ListSpaces(const KorvaneChar* arg1, const KorvaneChar* arg2, char** out1, char** out2,
                                       char** out3);
KORVANE_API int32_t Korvane_ShowSpace(const KorvaneChar* arg1, const KorvaneChar* arg2, const KorvaneChar* arg3,
                                      char** out1, char** out2, char** out3);
KORVANE_API int32_t Korvane_CreateSpace(const KorvaneChar* arg1, const KorvaneChar* arg2, const KorvaneChar* arg3,
                                        const KorvaneChar* arg4, char** out1, char** out2, char** out3);
KORVANE_API int32_t Korvane_FindUsers(const KorvaneChar* arg1, const KorvaneChar* arg2, char** out1, char** out2,
                                      char** out3);
KORVANE_API int32_t Korvane_Invite(const KorvaneChar* arg1, const KorvaneChar* arg2, const KorvaneChar* arg3,
                                   const KorvaneChar* arg4, char** out1, char** out2, char** out3);

/* ---- Repositories and local directories ------------------------------- */

/*
 * Work on repositories, working copies and the local directories of a
 * share, which the daemon carries out. The text arguments (null: empty) are
 * sent as they are (Korvane_RenameLDir canonicalises its path first). All but
 * Korvane_RenameLDir, Korvane_CreateRepo and Korvane_OpenRepo send their
 * arguments joined with "|": an argument holding "|" gives 0 at once, sends
 * nothing and leaves *result untouched. On 1,
 * *result receives a new buffer with the daemon's verdict
 * "code|operation|message|systemError|detail|" (numbers in decimal), or null
 * when the daemon closed without a word or sent fewer than five fields. 1
 * means the daemon answered; whether the work succeeded is in the verdict.
 * 0 when the daemon could not be asked or did not answer in time, and also
 * when result is null (the work is still done) or the buffer could not be
 * allocated. Korvane_SvnCheckoutWait, Korvane_SvnAdd and Korvane_SvnCommit
 * wait as long as the daemon takes; Korvane_CreateRepo and Korvane_OpenRepo
 * up to 30 seconds; the others up to 120 seconds.
 */
KORVANE_API int32_t Korvane_RenameLDir(const KorvaneChar* directory, char** result);
KORVANE_API int32_t Korvane_CreateRepo(const KorvaneChar* repository, char** result);
KORVANE_API int32_t Korvane_OpenRepo(const KorvaneChar* repository, char** result);
KORVANE_API int32_t Korvane_SvnCheckoutWait(const KorvaneChar* arg1, const KorvaneChar* arg2, char** result);
KORVANE_API int32_t Korvane_CopyToRepo(const KorvaneChar* arg1, const KorvaneChar* arg2, char** result);
KORVANE_API int32_t Korvane_SvnAdd(const KorvaneChar* path, char** result);
KORVANE_API int32_t Korvane_SvnCommit(const KorvaneChar* path, char** result);
KORVANE_API int32_t Korvane_RemoveLDir(const KorvaneChar* arg1, const KorvaneChar* arg2, char** result);
KORVANE_API int32_t Korvane_RemoveTmpDir(const KorvaneChar* directory, char** result);
KORVANE_API int32_t Korvane_RestoreLDir(const KorvaneChar* arg1, const KorvaneChar* arg2, char** result);

#ifdef __cplusplus
}
#endif

#endif /* KORVANE_KORVANE_H */
