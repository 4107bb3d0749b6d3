// The device's two FTP command dialects, and the choice between them.
#pragma once

#include <memory>
#include <string>

#include "ftp/ftp_client.hpp"

namespace vtbox {

// The words of each dialect: list, make folder, remove folder, change folder,
// delete file.
inline constexpr FtpVerbs kListVerbs{"LIST", "MKD", "RMD", "CWD", "DELE"};
inline constexpr FtpVerbs kShellVerbs{"ls", "mkdir", "rmdir", "cd", "delete"};

// The engine version whose FTP server speaks the shell dialect.
inline constexpr const char *kShellDialectEngineVersion = "Korvo-D V1.0.0.0";

class ListVerbFtpClient : public BoxFtpClient {
public:
    ListVerbFtpClient() : BoxFtpClient(kListVerbs) {}
    int FtpListDirectory(const std::string &remote_path, FindList *folders,
                         FindList *files) override;
};

class ShellVerbFtpClient : public BoxFtpClient {
public:
    ShellVerbFtpClient() : BoxFtpClient(kShellVerbs) {}
    int FtpListDirectory(const std::string &remote_path, FindList *folders,
                         FindList *files) override;
};

// The client for a device with this engine version (as vtBoxGetEngineVersion
// gives it): the shell dialect for exactly kShellDialectEngineVersion, the
// list dialect for anything else. Raises 8 when no object can be had.
std::unique_ptr<BoxFtpClient> MakeFtpClient(const std::string &engine_version);

}  // namespace vtbox
