// The device's two FTP command dialects: the words each one uses, and which
// device speaks which. The client (ftp_client.hpp) is driven by these tables.
#pragma once

#include <string>

namespace vtbox {

// The five command words of a dialect.
struct FtpVerbs {
    const char *list;
    const char *makeFolder;
    const char *removeFolder;
    const char *changeFolder;
    const char *deleteFile;
};

// The words of each dialect: list, make folder, remove folder, change folder,
// delete file.
inline constexpr FtpVerbs kListVerbs{"LIST", "MKD", "RMD", "CWD", "DELE"};
inline constexpr FtpVerbs kShellVerbs{"ls", "mkdir", "rmdir", "cd", "delete"};

// The engine version whose FTP server speaks the shell dialect.
inline constexpr const char *kShellDialectEngineVersion = "Korvo-D V1.0.0.0";

// The shell dialect for exactly kShellDialectEngineVersion, the list dialect
// for anything else.
inline const FtpVerbs &VerbsFor(const std::string &engineVersion) {
    return engineVersion == kShellDialectEngineVersion ? kShellVerbs : kListVerbs;
}

}  // namespace vtbox
