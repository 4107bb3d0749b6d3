// vtbox_zipfolder <target.zip> <source folder> [flat]
// Packs a folder with ZipFolder (tree mode unless "flat" is given) and exits
// with its code, so that a script can time it against other zip tools.
#include <cstdio>
#include <cstring>

#include "packaging/folder_archive.hpp"

int main(int argc, char **argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: %s <target.zip> <source folder> [flat]\n", argv[0]);
        return 2;
    }
    const bool flat = argc > 3 && std::strcmp(argv[3], "flat") == 0;
    const uint32_t rc = vtbox::ZipFolder(argv[1], argv[2], {.flat = flat});
    if (rc != 0) std::fprintf(stderr, "ZipFolder failed with %u\n", rc);
    return rc == 0 ? 0 : 1;
}
