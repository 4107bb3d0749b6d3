// Backup file names with date and time fields, so that each run of a
// scheduled backup writes its own file, and with a run number that never
// names a file already there, nor replaces one that another job put there
// while this one ran.
#pragma once

#include <cstdint>
#include <ctime>
#include <string>

namespace vtcli {

// The highest run number a name may carry: nine digits, as the utility's
// automatic backup numbers its files.
inline constexpr uint32_t kMaxRunNumber = 999999999;

// The name with %Y %m %d %H %M %S replaced by the year, month, day, hour,
// minute and second of `when`, %% by a percent sign, and %N (once, in the
// file's name, not its folder) by the run number: three digits at least, one
// after the highest number that a name of the same form (three to nine
// digits in its place) carries in the folder, 001 when there is none, and
// never a name that exists. Any other % sequence (a lone % at the end too)
// is refused: false, with a message in *error.
//
// The number is only what the folder holds now: two jobs started together
// both find the same one. A job that writes the file takes its run number
// at the end with TakeRunNumber, which never replaces a file. *number (when
// given) receives what that needs; numbered is false without %N.
struct RunNumber {
    std::string prefix, suffix;  // around the number, fields already filled in
    bool numbered = false;
};
bool ExpandOutputName(const std::string &pattern, const std::tm &when, std::string *out, std::string *error,
                      RunNumber *number = nullptr);

// The same with the local time now.
bool ExpandOutputNameNow(const std::string &pattern, std::string *out, std::string *error, RunNumber *number = nullptr);

// Moves the finished file to the name of the next run number (one after the
// highest in the folder now) without ever replacing a file: when another job
// has taken that name meanwhile, the next number is taken. *placed receives
// the name used. False with *error when no number is left or the move fails;
// finished then stays where it was.
bool TakeRunNumber(const std::string &finished, const RunNumber &number, std::string *placed, std::string *error);

}  // namespace vtcli
