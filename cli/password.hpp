#pragma once

#include <string>

namespace vtcli {

// The administrator password: VTBOX_PASSWORD, else the first line of the
// password file, else a prompt on the terminal with echo off. False with a
// message when none can be had.
bool ReadPassword(const std::string &password_file, std::string *password, std::string *error);

}  // namespace vtcli
