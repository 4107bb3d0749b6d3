// What the application object keeps for the whole run: the chosen device and
// the values that jobs and the automatic schedule share.
#pragma once

#include <cstdint>
#include <string>

namespace vtutil {

struct AppState {
    std::string deviceAddress;    // host name or dotted IPv4 ("Last Selected IP")
    std::string deviceName;       // display name ("Last Selected Name")
    std::string startFolder;      // current folder at start-up
    std::string ftpAccountCopy;   // the FTP login of a running job
    int64_t automaticStart = 0;   // start of the automatic schedule (seconds)
    uint32_t continuePolicy = 1;  // 1: go on when chosen boxes were deleted
    uint32_t retryCounter = 0;    // retries made for the current scheduled run
    double totalSizeKb = 0;       // archives of the automatic session
    uint32_t restoreMode = 1;     // of the next restore: 1 replace same-named documents, 2 keep both
};

}  // namespace vtutil
