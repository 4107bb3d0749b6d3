/* A plain C program over the public headers: the records keep their designed
 * field order and widths, and the platform calls link. */
#include <stddef.h>
#include <stdio.h>
#include <string.h>

#include "vtBoxBRD.h"
#include "vtplatform.h"
#include "vtregistry.h"

_Static_assert(sizeof(SYSTEMTIME) == 16, "SYSTEMTIME is eight 16-bit words");
_Static_assert(offsetof(VTMFPSESSION, Port) == 512, "Port follows Host[512]");
_Static_assert(offsetof(VTMFPSESSION, Reserved2) == 512 + 4 + 1024, "Reserved is 1024 bytes");
_Static_assert(offsetof(VTMFPSESSION, SessionId) > offsetof(VTMFPSESSION, ConnectHandle), "SessionId is last");
_Static_assert(sizeof(VTENGVERSION) == 1024, "two 512-byte texts");
_Static_assert(offsetof(VTBOX, LastUpdateDate) == 4 + 256, "VTBOX layout");
_Static_assert(sizeof(VTBOX) == 4 + 256 + 16 + 4 + 4, "VTBOX size");
_Static_assert(offsetof(VTBOXEX, CreateDate) == 4 + 256 + 256, "VTBOXEX layout");
_Static_assert(offsetof(VTBOXEX, WarningNotice) == 4 + 512 + 16 + 16 + 16 + 8, "VTBOXEX layout");
_Static_assert(offsetof(VTBOXELEMENT, CreateDate) == 8 + 256, "element name is 128 UTF-16 units");
_Static_assert(offsetof(VTBOXELEMENT, ThumbnailPath) == 8 + 256 + 32 + 8 + 16 + 16, "element layout");
_Static_assert(offsetof(VTPROGRESSINFO, Phase) == 12 + 3 * 512, "progress layout");
_Static_assert(sizeof(VTPROGRESSINFO) == 12 + 3 * 512 + 12, "progress size");
_Static_assert(offsetof(VTBACKUPINFO, Kind) == 16 + 1024, "backup info layout");
_Static_assert(sizeof(VTBOXBK) == 4 + 256 + 16, "VTBOXBK size");
/* The numbers callers compare are those of the design. */
_Static_assert(VTBOX_E_CANCELLED == 995 && VTBOX_E_WRONG_PASSWORD == 1216 && VTBOX_E_INVALID_PARAMETER == 87,
               "result numbers");

int main(void) {
    int failures = 0;
    HANDLE ev = CreateEventA(NULL, FALSE, FALSE, NULL);
    if (!ev || WaitForSingleObject(ev, 0) != WAIT_TIMEOUT) ++failures;
    SetEvent(ev);
    if (WaitForSingleObject(ev, 0) != WAIT_OBJECT_0) ++failures;
    CloseHandle(ev);

    HGLOBAL block = GlobalAlloc(GPTR, sizeof(VTBOX) * 3);
    if (!block || GlobalSize(block) != sizeof(VTBOX) * 3 || GlobalLock(block) != block) ++failures;
    GlobalFree(block);

    /* Every named code has its text from the one table, as callers see it. */
    char text[128];
#define CHECK_TEXT(name, number, meaning) \
    if (vtGetMessageText(VTBOX_E_##name, text, sizeof text) == 0 || strcmp(text, meaning) != 0) { \
        printf("no text for %s (%d)\n", #name, number); \
        ++failures; \
    }
    VTBOX_RESULT_TABLE(CHECK_TEXT)
#undef CHECK_TEXT
    SetLastError(VTBOX_E_CANNOT_CONNECT);
    if (GetLastError() != 12029) ++failures;

    printf("public headers: %s (session record %zu bytes)\n", failures ? "FAILED" : "ok", sizeof(VTMFPSESSION));
    return failures != 0;
}
