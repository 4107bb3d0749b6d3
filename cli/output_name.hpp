// Backup file names with date and time fields, so that each run of a
// scheduled backup writes its own file.
#pragma once

#include <ctime>
#include <string>

namespace vtcli {

// The name with %Y %m %d %H %M %S replaced by the year, month, day, hour,
// minute and second of `when`, and %% by a percent sign. Any other %
// sequence (a lone % at the end too) is refused: false, with a message in
// *error.
bool ExpandOutputName(const std::string &pattern, const std::tm &when, std::string *out, std::string *error);

// The same with the local time now.
bool ExpandOutputNameNow(const std::string &pattern, std::string *out, std::string *error);

}  // namespace vtcli
