// The device's listing text, as the FTP client splits it into entries.
#include <cstring>
#include <string_view>

#include "ftp/ftp_listing.hpp"
#include "fuzz_target.h"

VT_FUZZ_TARGET(ftp_listing) {
    using namespace vtbox;
    const std::string_view text(reinterpret_cast<const char *>(data), size);
    FindList folders, files;
    const ListingOutcome outcome = ParseListing(text, &folders, &files);
    if (outcome.code != 0) {
        VT_FUZZ_CHECK(folders.empty() && files.empty());
        VT_FUZZ_CHECK(outcome.refusedName.size() < sizeof(vt::FindData::cFileName));
    }
    for (const FindList *list : {&folders, &files}) {
        for (const auto &entry : *list) {
            const size_t length = strnlen(entry.cFileName, sizeof entry.cFileName);
            VT_FUZZ_CHECK(length < sizeof entry.cFileName);  // terminated within its field
            VT_FUZZ_CHECK(IsSafeEntryName(std::string_view(entry.cFileName, length)));
        }
    }
    // The lists given or not, the outcome is the same.
    FindList only_files;
    VT_FUZZ_CHECK(ParseListing(text, nullptr, &only_files).code == outcome.code);
    VT_FUZZ_CHECK(only_files.size() == files.size());
    return 0;
}
