// The backup file of a job: the checks of the path typed on the backup page
// or chosen on the restore page, and the folder a backup is written into.
//
// Paths are Linux paths: absolute, "/" between folders, names taken as
// typed (file names are case-sensitive). A leading "//" stands for the
// network paths that cannot be used.
#pragma once

#include <QDateTime>
#include <QString>
#include <cstdint>

namespace vtutil {

// Characters a backup file's path may not hold.
inline constexpr const char *kRefusedPathCharacters = "*?\"<>|";

// True when the path ends with ".zip" in any case.
bool EndsWithZip(const QString &path);

// The checks made while a backup file is typed, in order: a refused
// character (message 181), a network path (179), a path that is not
// absolute (180). Returns the message id, 0 when the path passes.
uint32_t TypedTargetMessage(const QString &path);

// The same checks for the restore page's path, in its order: a network
// path (179), not absolute (180), a refused character (181).
uint32_t RestorePathMessage(const QString &path);

// Message 64 when the path has no usable zip file name: no ".zip" (any
// case), or nothing but a "." or a folder before its last ".zip"; else 0.
uint32_t ZipNameMessage(const QString &path);

// True for a path that names a network place (leading "//") or is not
// absolute: not a folder on this computer.
bool NotALocalFolder(const QString &path);

// The folder part of a path: up to and including its last "/"; empty when
// it has none.
QString FolderPart(const QString &path);

// Whether a folder can be written into as it is.
enum class FolderState { Exists, Missing, Unusable };
// Missing for a folder that does not exist (or a level above it is not a
// folder); Unusable with the system's code in *code for any other failure,
// and the system's words for it in *reason when given ("Permission denied").
FolderState ProbeFolder(const QString &folder, uint32_t *code, QString *reason = nullptr);

// Creates a folder and every missing level above it, from the top down; a
// level that exists or cannot be made is passed over. Returns the result of
// the last level: 0, VTBOX_E_ALREADY_EXISTS when it existed, or another code. A name that
// exists but is not a folder gives 267.
uint32_t CreateFolderLevels(const QString &folder);

// True when this user cannot write into the folder.
bool FolderIsReadOnly(const QString &folder);

// The name the backup file dialog suggests: the local time as
// "YYYYMMDD_hhmmss".
QString DefaultBackupName(const QDateTime &now);

}  // namespace vtutil
