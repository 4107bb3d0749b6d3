// Where the device and its password come from: the command line, then the
// environment (VTBOX_HOST, VTBOX_PORT, VTBOX_FTP_PORT, VTBOX_PASSWORD,
// VTBOX_PASSWORD_FILE, VTBOX_PASSWORD_COMMAND), then the configuration file
// ($XDG_CONFIG_HOME/vtbox/vtbox.conf, else /etc/vtbox/vtbox.conf).
#pragma once

#include <cstdint>
#include <map>
#include <string>

#include "options.hpp"

namespace vtcli {

struct Settings {
    std::string host;
    uint32_t port = 8080;
    uint32_t ftpPort = 21;
    uint32_t timeout = 60;  // seconds for the device's first answer
};

// The configuration file: "key = value" lines, '#' comments. Keys are
// host, port, ftp-port, timeout, password, password-file, password-command
// (VTBOX_HOST and the like are taken too). A file that holds a password and
// can be read by others is refused.
struct ConfigFile {
    std::string path;  // "" when there is none
    std::map<std::string, std::string> values;
};
bool LoadConfigFile(ConfigFile *file, std::string *error);

// The device settings by precedence. False with a message for a bad value.
bool ResolveSettings(const Options &options, const ConfigFile &file, Settings *settings, std::string *error);

// The administrator password by precedence: --password-file,
// --password-command, VTBOX_PASSWORD, VTBOX_PASSWORD_FILE,
// VTBOX_PASSWORD_COMMAND, the file's password, password-file,
// password-command, and last a prompt on the terminal. An empty password,
// a password file readable by others and a failing command are refused.
bool ObtainPassword(const Options &options, const ConfigFile &file, std::string *password, std::string *error);

}  // namespace vtcli
