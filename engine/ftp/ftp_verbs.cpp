#include "ftp/ftp_verbs.hpp"

#include <new>

#include "session/result.hpp"
#include "vtplatform/errors.hpp"

namespace vtbox {

int ListVerbFtpClient::FtpListDirectory(const std::string &remote_path, FindList *folders,
                                        FindList *files) {
    return ListWith(kListVerbs.list, remote_path, folders, files);
}

int ShellVerbFtpClient::FtpListDirectory(const std::string &remote_path, FindList *folders,
                                         FindList *files) {
    return ListWith(kShellVerbs.list, remote_path, folders, files);
}

std::unique_ptr<BoxFtpClient> MakeFtpClient(const std::string &engine_version) {
    try {
        if (engine_version == kShellDialectEngineVersion)
            return std::make_unique<ShellVerbFtpClient>();
        return std::make_unique<ListVerbFtpClient>();
    } catch (const std::bad_alloc &) {
        Raise(vt::Code::NotEnoughMemory);
    }
}

}  // namespace vtbox
