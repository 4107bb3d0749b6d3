/* vtresult.h: every result code of the system, in one table.
 *
 * Every export of the engine returns one of these numbers (0 for success), or
 * leaves one as the thread's last error; the numbers are those of the
 * platform the system was designed for, so that callers written for it
 * compare the same values. Each row gives the code's name, its number and the
 * one line of text that says what it means (vtGetMessageText hands it out).
 *
 * From the table come the C constants below (VTBOX_E_<name>), the engine's
 * C++ names (vt::Code::<name>) and the text of every code, so that a code has
 * one name everywhere and cannot be added without its text.
 *
 * A row reads X(name, number, text); give VTBOX_RESULT_TABLE a macro of that
 * shape to walk the table. */
#ifndef VTRESULT_H
#define VTRESULT_H

#define VTBOX_RESULT_TABLE(X) \
    X(SUCCESS, 0, "The operation completed successfully.") \
    X(INVALID_FUNCTION, 1, "The function is not valid here.") \
    X(FILE_NOT_FOUND, 2, "The file was not found.") \
    X(PATH_NOT_FOUND, 3, "The path was not found.") \
    X(TOO_MANY_OPEN_FILES, 4, "Too many files are open.") \
    X(ACCESS_DENIED, 5, "Access was denied.") \
    X(INVALID_HANDLE, 6, "The handle is not valid.") \
    X(NOT_ENOUGH_MEMORY, 8, "Not enough memory to complete the operation.") \
    X(BAD_FORMAT, 11, "A reply or file lacks a value the operation needs, or holds one that does not fit.") \
    X(REQUEST_REFUSED, 12, "The device refused the request.") \
    X(INVALID_DATA, 13, "The data is not valid.") \
    X(OUT_OF_MEMORY, 14, "Out of memory.") \
    X(FOLDER_IN_USE, 16, "The folder cannot be removed while it is in use.") \
    X(NOT_SAME_DISK, 17, "The file cannot be moved to a different disk.") \
    X(NO_MORE_FILES, 18, "There are no more files.") \
    X(WRITE_PROTECTED, 19, "The medium is write-protected.") \
    X(READ_FAULT, 30, "The disk could not be read.") \
    X(FILE_IN_USE, 32, "The file is in use by another process.") \
    X(FILE_LOCKED, 33, "Part of the file is locked by another process.") \
    X(END_OF_FILE, 38, "The end of the file was reached.") \
    X(HANDLE_DISK_FULL, 39, "The disk is full.") \
    X(NOT_SUPPORTED, 50, "The device's software version is not supported.") \
    X(REMOTE_NOT_LISTENING, 51, "The remote computer is not available.") \
    X(BAD_NET_RESPONSE, 58, "The device gave an unexpected network response.") \
    X(UNEXPECTED_NET_ERROR, 59, "An unexpected network error occurred.") \
    X(NET_NAME_DELETED, 64, "The network name is no longer available.") \
    X(NETWORK_ACCESS_DENIED, 65, "Network access was denied.") \
    X(BAD_NET_NAME, 67, "The network name was not found.") \
    X(FILE_EXISTS, 80, "The file already exists.") \
    X(CANNOT_MAKE, 82, "The file or folder could not be created.") \
    X(INVALID_PARAMETER, 87, "A parameter is not valid, or the session is not open.") \
    X(DEVICE_IN_USE, 100, "The device is busy with another backup or restore.") \
    X(BROKEN_PIPE, 109, "The connection was closed.") \
    X(OPEN_FAILED, 110, "The file or device could not be opened.") \
    X(BUFFER_OVERFLOW, 111, "The file name is too long.") \
    X(DISK_FULL, 112, "There is not enough space on the disk.") \
    X(BUFFER_TOO_SMALL, 122, "The buffer is too small.") \
    X(INVALID_NAME, 123, "The file name or folder name is not valid.") \
    X(FOLDER_NOT_EMPTY, 145, "The folder is not empty.") \
    X(NOT_ON_DEVICE, 161, "The box or folder does not exist on the device.") \
    X(STORE_BUSY, 170, "The device's box store is busy.") \
    X(ALREADY_EXISTS, 183, "The file already exists.") \
    X(PATH_TOO_LONG, 206, "The file name or path is too long.") \
    X(MORE_DATA, 234, "More data is available than the buffer holds.") \
    X(NO_MORE_ITEMS, 259, "There are no more items.") \
    X(IS_A_FOLDER, 267, "The name is a folder, not a file.") \
    X(CANCELLED, 995, "The operation was cancelled.") \
    X(IO_PENDING, 997, "The operation is still in progress.") \
    X(INVALID_FLAGS, 1004, "The flags are not valid.") \
    X(NO_UNICODE_TRANSLATION, 1113, "The text cannot be converted.") \
    X(DISK_OPERATION_FAILED, 1127, "A disk operation failed.") \
    X(NOT_FOUND, 1168, "The element was not found.") \
    X(WRONG_PASSWORD, 1216, "The password is not correct.") \
    X(NO_SUCH_PRIVILEGE, 1313, "The privilege is not held.") \
    X(NO_DEVICE_SPACE, 1344, "There is not enough free space on the device.") \
    X(INTERNAL_ERROR, 1359, "An internal error occurred.") \
    X(FTP_ACCOUNT_FAILED, 1371, "The device's FTP account could not be created or deleted.") \
    X(DAMAGED_FILE, 1392, "The file is not a valid backup or archive file.") \
    X(STORE_TIMEOUT, 1460, "The device's box store could not be reached in time.") \
    X(ENGINE_TOO_NEW, 1605, "The device's box engine version is not supported.") \
    X(OFFLINE, 2250, "This computer is not connected to a network.") \
    X(DEVICE_NOT_AVAILABLE, 4319, "The device is not available.") \
    X(WEB_SESSION_FAILED, 4351, "The device could not set up a web session.") \
    X(DEVICE_LIMIT, 8260, "The device refused the data: a limit was exceeded, or its FTP server refused an upload.") \
    X(OUT_OF_HANDLES, 12001, "No more connection handles could be created.") \
    X(NET_TIMEOUT, 12002, "The request timed out.") \
    X(SERVER_REFUSED, 12003, "The server returned extended error information.") \
    X(CONNECTION_FAILED, 12004, "The connection to the device failed.") \
    X(INVALID_URL, 12005, "The address is not valid.") \
    X(NAME_NOT_RESOLVED, 12007, "The device's name could not be resolved.") \
    X(INVALID_OPTION, 12009, "A connection option is not valid.") \
    X(USER_NAME_REFUSED, 12013, "The user name was refused.") \
    X(FTP_LOGIN_REFUSED, 12014, "The FTP server refused the user name or password.") \
    X(LOGIN_FAILED, 12015, "The login was refused.") \
    X(WRONG_HANDLE_STATE, 12019, "The connection is in the wrong state for this request.") \
    X(CANNOT_CONNECT, 12029, "A connection to the device could not be made.") \
    X(CONNECTION_ABORTED, 12030, "The connection to the device was aborted.") \
    X(CONNECTION_RESET, 12031, "The connection to the device was reset.") \
    X(FTP_TRANSFER_IN_PROGRESS, 12110, "An FTP transfer is already in progress.") \
    X(FTP_DROPPED, 12111, "The FTP connection was dropped.") \
    X(BAD_SERVER_RESPONSE, 12152, "The server's response could not be read.")

#define VTBOX_RESULT_CONSTANT(name, number, text) VTBOX_E_##name = number,
enum vtbox_result { VTBOX_RESULT_TABLE(VTBOX_RESULT_CONSTANT) };
#undef VTBOX_RESULT_CONSTANT

#endif /* VTRESULT_H */
