/* Reads the description of a file that is no backup: the engine must answer
 * with a failure code and a text for it, through the installed headers and
 * libraries alone. */
#include <stdio.h>

#include "vtBoxBRD.h"
#include "vtplatform.h"

int main(int argc, char **argv) {
    if (argc != 3) return 2;
    VTBACKUPINFO info;
    uint32_t count = 0;
    VTBOXBK *boxes = NULL;
    void *handle = NULL;
    uint32_t rc = vtBoxGetXMLInfo(argv[1], argv[2], &info, &count, &boxes, &handle);
    char text[256] = "";
    vtGetMessageText(rc, text, sizeof text);
    printf("code %u: %s\n", (unsigned)rc, text);
    if (handle) GlobalFree(handle);
    return rc == 0 ? 1 : 0;
}
