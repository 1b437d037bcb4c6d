/* The C interface between postwatch and its two plug-in libraries, libportalpost (web mail)
 * and libmapiprobe (mailbox watching). postwatch links both at build time.
 *
 * Only C types cross it. Strings are UTF-8 and zero-terminated; a string handed to a
 * function is owned by the caller and valid for that call only. No exception crosses it:
 * every export catches and answers its failure code.
 *
 * The sink stands where a window handle would: the plug-in reports records, summaries,
 * questions and the reason of a failed call through it, synchronously, on the plug-in's
 * calling thread (or, for mapiprobe's new-mail notifications, on the library's own watch
 * thread). */
#ifndef POSTWATCH_PLUGIN_H
#define POSTWATCH_PLUGIN_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Raised whenever a declaration below changes; postwatch refuses a library of another
 * version at start-up. */
#define POSTWATCH_PLUGIN_ABI_VERSION 2u

#if defined(__GNUC__)
#define POSTWATCH_PLUGIN_EXPORT __attribute__((visibility("default")))
#else
#define POSTWATCH_PLUGIN_EXPORT
#endif

/* Record kinds passed to PwSink.deliver. */
#define PW_RECORD_EXCHANGE                                                                         \
    3u /* 9 fields: account, subject, body, size, from, date,                                      \
          folder, store, attachment */
#define PW_RECORD_WEBMAIL                                                                          \
    4u /* 8 fields: url, subject, size, date, from, account,                                       \
          reserved, attachment */

/* Answers of PwSink.deliver and PwSink.result. */
#define PW_SINK_FRONT_GONE 0 /* the program is shutting down: stop reporting */
#define PW_SINK_HANDLED 1    /* filed */
#define PW_SINK_NOT_STORED                                                                         \
    2 /* the record could not be stored: end the check early; the                                  \
         message must come again at a later check */

/* Buttons and icons of PwSink.ask, and its answers. */
#define PW_ASK_OK 0u
#define PW_ASK_RETRYCANCEL 5u
#define PW_ASK_ICON_INFORMATION 0x40u
#define PW_ASK_ICON_QUESTION 0x20u
#define PW_ANSWER_OK 1
#define PW_ANSWER_CANCEL 2
#define PW_ANSWER_RETRY 4

typedef struct PwSink {
    void* ctx;
    /* One record of `count` fields (see PW_RECORD_*). The fields live for the call only. */
    int32_t (*deliver)(void* ctx, uint32_t kind, const char* const* fields, uint32_t count);
    /* A kind-5 summary: result code, new count, account name. */
    int32_t (*result)(void* ctx, int32_t code, int32_t count, const char* account);
    /* A message box: returns PW_ANSWER_*. */
    int32_t (*ask)(void* ctx, const char* text, const char* caption, uint32_t buttons,
                   uint32_t icon);
    /* Why the call failed, in the user's words (UTF-8, at most PW_FAILURE_TEXT_MAX bytes, no
     * control characters, never a password or anything derived from one). A library may call
     * it once, just before a failing return; never through a null pointer, so a program that
     * has no use for the text leaves it null. Added in version 2. */
    void (*failure)(void* ctx, const char* text);
} PwSink;

/* The longest text PwSink.failure carries, in bytes, terminator not counted. */
#define PW_FAILURE_TEXT_MAX 1024u

/* ---- libportalpost ---------------------------------------------------------------- */

/* Result codes of CheckPortalpostMsg. */
#define PW_WEBMAIL_TIMEOUT 1 /* the server did not answer in time */
#define PW_WEBMAIL_LOGIN_REFUSED 2
#define PW_WEBMAIL_HTTP_ERROR 3 /* any other error of the HTTP layer */
#define PW_WEBMAIL_SUCCESS 4    /* also for a category the library does not know */
#define PW_WEBMAIL_FAILED 5     /* unexpected answer, MIDS file unusable, busy account */

POSTWATCH_PLUGIN_EXPORT uint32_t PortalpostAbiVersion(void);

/* Fills entries 0.. of `categories` (at least 10 entries) with the category names the
 * library handles ("Yahoo", "Hotmail"); the texts are constant and live as long as the
 * library. Returns the number filled. */
POSTWATCH_PLUGIN_EXPORT int32_t GetPortalpostCategory(const char** categories);

/* Checks one web-mail account: delivers a PW_RECORD_WEBMAIL record through `sink` for each
 * new message to be listed, sets *newCount (0 on entry) to the number delivered and returns
 * a PW_WEBMAIL_* code. Before any code other than PW_WEBMAIL_SUCCESS it tells why through
 * sink->failure when that is set ("...: the server is too slow ...", the HTTP status, a
 * damaged MIDS file, another check of the account running). `timeOutSeconds` bounds every
 * connection and every silence. The library keeps no state between calls. Called on the
 * account's check thread; checks of different accounts may run at once. */
POSTWATCH_PLUGIN_EXPORT int32_t CheckPortalpostMsg(const PwSink* sink, const char* category,
                                                   const char* account, const char* userName,
                                                   const char* password, int32_t* newCount,
                                                   int32_t timeOutSeconds);

/* ---- libmapiprobe ----------------------------------------------------------------- */

/* Results of LogonExchange. */
#define PW_LOGON_FAILED 0       /* refused and not retried, or a store failed to open */
#define PW_LOGON_DONE 1         /* logged on: new mail is reported until LogoffExchange */
#define PW_LOGON_RETRY 2        /* the user chose Retry: call again with logonDialog 0 */
#define PW_LOGON_RETRY_DIALOG 3 /* a store refused the log-on: call again with logonDialog 1 */
#define PW_LOGON_ALREADY 4      /* already logged on: nothing done */

/* Buffers of GetProfiles: at most PW_PROFILES_MAX names of at most PW_PROFILE_NAME_SIZE
 * bytes each, terminator included. */
#define PW_PROFILES_MAX 50
#define PW_PROFILE_NAME_SIZE 260

POSTWATCH_PLUGIN_EXPORT uint32_t MapiprobeAbiVersion(void);

/* Logs on to `profile` for `account`, reports the unread messages not reported before
 * (PW_RECORD_EXCHANGE records through `sink`, counted in *newCount, zeroed by the caller),
 * then watches for new mail: each new message is delivered and followed by a summary
 * (sink->result with code 4, count 1) from the library's own watch thread. The library
 * copies *sink; its ctx must stay usable until LogoffExchange returns. `bodyLimit` is the
 * largest body text in bytes, terminator included. */
POSTWATCH_PLUGIN_EXPORT int32_t LogonExchange(const PwSink* sink, const char* profile,
                                              const char* account, int32_t logonDialog,
                                              int32_t* newCount, uint32_t bodyLimit);

/* Ends the watch: no record is delivered after it returns, and a notification being
 * handled is waited for. When not logged on it only tells the user so through `sink`. */
POSTWATCH_PLUGIN_EXPORT void LogoffExchange(const PwSink* sink);

/* Copies the profile names into `names` (PW_PROFILES_MAX caller buffers of
 * PW_PROFILE_NAME_SIZE bytes); a name that does not fit is left out. Returns the count. */
POSTWATCH_PLUGIN_EXPORT int32_t GetProfiles(char** names);

/* 1 when at least one profile has a readable store, else 0. */
POSTWATCH_PLUGIN_EXPORT int32_t CheckMapiExist(void);

#ifdef __cplusplus
}
#endif

#endif
