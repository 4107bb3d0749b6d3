/* A plain C client of the engine: open a session, prove the password, list
 * the boxes, read one box's properties and close. Usage: boxclient HOST PORT */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "vtBoxBRD.h"
#include "vtplatform.h"

static int failed(const char *what, uint32_t code) {
    char text[256];
    vtGetMessageText(code, text, sizeof text);
    fprintf(stderr, "%s failed: %u %s\n", what, code, text);
    return 1;
}

int main(int argc, char **argv) {
    if (argc != 3) {
        fprintf(stderr, "usage: boxclient HOST PORT\n");
        return 2;
    }
    const char *password = getenv("VTBOX_PASSWORD");
    VTMFPSESSION session;
    memset(&session, 0, sizeof session);
    strncpy(session.Host, argv[1], sizeof session.Host - 1);
    session.Port = (uint32_t)strtoul(argv[2], NULL, 10);
    session.Reserved2 = 10000;

    uint32_t rc = vtBoxOpenConnection(&session);
    if (rc) return failed("vtBoxOpenConnection", rc);
    VTENGVERSION version;
    rc = vtBoxGetEngineVersion(&session, password, &version);
    if (rc) return failed("vtBoxGetEngineVersion", rc);

    uint32_t count = 0;
    VTBOX *boxes = NULL;
    HGLOBAL list = vtBoxGetBoxList(&session, &count, &boxes);
    if (!list) return failed("vtBoxGetBoxList", GetLastError());
    if (count == 0) return failed("an empty box list", 0);
    for (uint32_t i = 0; i < count; ++i) printf("box %03u %s\n", boxes[i].BoxNo, boxes[i].BoxName);

    VTBOXEX box;
    memset(&box, 0, sizeof box);
    rc = vtBoxGetBoxProperty(&session, boxes[0].BoxNo, password, &box, NULL);
    GlobalFree(list);
    if (rc) return failed("vtBoxGetBoxProperty", rc);
    printf("box %03u: %u documents, %u folders, %u KB\n", box.BoxNo, box.NumOfDocs, box.NumOfFolders, box.BoxUsedDisk);

    rc = vtBoxCloseConnection(&session);
    if (rc) return failed("vtBoxCloseConnection", rc);
    if (vtBoxCloseConnection(&session) != 87) return failed("closing twice", 0);
    printf("engine %s ok\n", version.EngineVersion);
    return 0;
}
