/*
 * vtplatform.h - the platform calls that clients of the engine need.
 *
 * The engine was designed around a handful of system facilities: a per-thread
 * last-error value, events, waitable threads, fixed global memory blocks and
 * message texts for result codes. This header gives them to C and C++ callers
 * with the same names and meanings, so that a client drives the engine through
 * headers alone.
 *
 * Ownership in one sentence per call is given with each declaration.
 */
#ifndef VTPLATFORM_H
#define VTPLATFORM_H

#include <stddef.h>
#include <stdint.h>

#include "vtresult.h"

#ifdef __cplusplus
extern "C" {
#endif

#if defined(VTPLATFORM_BUILDING)
#define VTPLATFORM_API __attribute__((visibility("default")))
#else
#define VTPLATFORM_API
#endif

typedef int32_t BOOL;
typedef uint32_t DWORD;
typedef uint16_t WORD;
typedef void *HANDLE;
typedef void *HGLOBAL;

#ifndef TRUE
#define TRUE 1
#endif
#ifndef FALSE
#define FALSE 0
#endif

/* A calendar time split into fields; always eight 16-bit words. */
typedef struct _SYSTEMTIME {
    WORD wYear;
    WORD wMonth;     /* 1..12 */
    WORD wDayOfWeek; /* 0 = Sunday */
    WORD wDay;       /* 1..31 */
    WORD wHour;
    WORD wMinute;
    WORD wSecond;
    WORD wMilliseconds;
} SYSTEMTIME;

/* 100-nanosecond intervals since 1601-01-01 00:00:00 UTC. */
typedef struct _FILETIME {
    DWORD dwLowDateTime;
    DWORD dwHighDateTime;
} FILETIME;

/* ---- last error -------------------------------------------------------- */

/* The calling thread's last result code (0 after success). */
VTPLATFORM_API DWORD GetLastError(void);
VTPLATFORM_API void SetLastError(DWORD code);

/*
 * Copies our message text for a result code into buf (at most size-1 bytes,
 * always NUL-terminated when size > 0, never splitting a UTF-8 sequence).
 * Returns the length of the whole text, or 0 when the code has no text.
 */
VTPLATFORM_API size_t vtGetMessageText(DWORD code, char *buf, size_t size);

/* ---- diagnostics channel ----------------------------------------------- */

/*
 * Writes one piece of diagnostics text exactly as given. The text goes to the
 * capture hook when one is set, and to the sink named by VTBOX_DEBUG
 * ("stderr" or a file path); with neither, it goes nowhere.
 */
VTPLATFORM_API void OutputDebugStringA(const char *text);

/*
 * Installs (or, with NULL, removes) a process-wide hook that receives every
 * diagnostics text. The hook is called on the writing thread; it must not
 * call OutputDebugStringA itself.
 */
typedef void (*VTDEBUGHOOK)(const char *text, void *context);
VTPLATFORM_API void vtSetDebugHook(VTDEBUGHOOK hook, void *context);

/* ---- waits, events and threads ----------------------------------------- */

#define INFINITE 0xFFFFFFFFu
#define WAIT_OBJECT_0 0u
#define WAIT_TIMEOUT 258u
#define WAIT_FAILED 0xFFFFFFFFu

/*
 * Creates an event: manual_reset != 0 gives an event that stays signalled
 * until ResetEvent; otherwise one waiter is released and the event resets.
 * The attributes and the name are accepted for compatibility and ignored.
 * The caller closes the handle with CloseHandle. NULL with last error on failure.
 */
VTPLATFORM_API HANDLE CreateEventA(void *attributes, BOOL manual_reset, BOOL initial_state, const char *name);
VTPLATFORM_API BOOL SetEvent(HANDLE event);
VTPLATFORM_API BOOL ResetEvent(HANDLE event);

/*
 * Waits until the object (an event or a thread) is signalled or the time-out
 * (milliseconds; 0 polls, INFINITE waits for ever) runs out. A thread is
 * signalled once its routine has returned. Returns WAIT_OBJECT_0,
 * WAIT_TIMEOUT, or WAIT_FAILED with last error 6 for a bad handle.
 */
VTPLATFORM_API DWORD WaitForSingleObject(HANDLE object, DWORD milliseconds);

typedef DWORD (*LPTHREAD_START_ROUTINE)(void *parameter);

/*
 * Starts a thread that runs routine(parameter). The stack size is a hint and
 * is raised to a safe minimum; flags must be 0. The caller closes the handle
 * with CloseHandle; closing does not stop the thread.
 */
VTPLATFORM_API HANDLE CreateThread(void *attributes, size_t stack_size, LPTHREAD_START_ROUTINE routine, void *parameter,
                                   DWORD flags, DWORD *thread_id);
/* The routine's return value once the thread has ended; STILL_ACTIVE before. */
#define STILL_ACTIVE 259u
VTPLATFORM_API BOOL GetExitCodeThread(HANDLE thread, DWORD *exit_code);

/* Releases an event or thread handle. */
VTPLATFORM_API BOOL CloseHandle(HANDLE object);

/* ---- global memory ------------------------------------------------------ */

#define GMEM_FIXED 0x0000u
#define GMEM_MOVEABLE 0x0002u
#define GMEM_ZEROINIT 0x0040u
#define GPTR (GMEM_FIXED | GMEM_ZEROINIT)
#define GHND (GMEM_MOVEABLE | GMEM_ZEROINIT)

/*
 * Allocates a block; the handle is the block's address. GMEM_ZEROINIT clears
 * it. The caller frees it with GlobalFree. NULL with last error 8 on failure.
 */
VTPLATFORM_API HGLOBAL GlobalAlloc(DWORD flags, size_t bytes);
/*
 * Resizes a block, keeping its content up to the smaller size; new bytes are
 * zero with GMEM_ZEROINIT. Returns the (possibly new) handle; on failure NULL
 * and the old block stays valid.
 */
VTPLATFORM_API HGLOBAL GlobalReAlloc(HGLOBAL block, size_t bytes, DWORD flags);
/* The size recorded for a block, 0 for NULL. */
VTPLATFORM_API size_t GlobalSize(HGLOBAL block);
/* The block's address (the handle itself). */
VTPLATFORM_API void *GlobalLock(HGLOBAL block);
VTPLATFORM_API BOOL GlobalUnlock(HGLOBAL block);
/* Frees a block; returns NULL on success. */
VTPLATFORM_API HGLOBAL GlobalFree(HGLOBAL block);

#ifdef __cplusplus
}
#endif

#endif /* VTPLATFORM_H */
