#pragma once

// The program's localisable texts, by index. The English table is built in; a catalogue in
// the user-interface language replaces it when one is found beside or inside the executable.

#include <cstdint>
#include <string>
#include <vector>

namespace Common {

enum MessageId : uint32_t {
    MSG_ACCESS_DENIED = 0,               // "Access is denied."
    MSG_ALREADY_EXISTS = 1,              // "The named resource already exists."
    MSG_CANNOT_CREATE_THREAD = 2,        // "Cannot create the thread."
    MSG_CANNOT_OPEN_EVENT_LOG = 3,       // "Cannot open the system log for the event source."
    MSG_CREATION_FAILED = 4,             // "Creation has failed."
    MSG_COMMAND_LINE_PARSE_FAILED = 5,   // "Failed to parse command line."
    MSG_CANNOT_LOAD_LIBRARY = 6,         // "Cannot load the dynamic library."
    MSG_LABEL_FUNCTION = 7,              // "function"
    MSG_LABEL_ERROR_HEAD = 8,            // "Error"
    MSG_LABEL_FILE = 9,                  // "file"
    MSG_LABEL_LINE = 10,                 // "line"
    MSG_LABEL_ERROR_CAUSE = 11,          // "error"
    MSG_SUCCESS = 12,                    // "Success"
    MSG_NOT_ENOUGH_MEMORY = 13,          // "Not enough memory."
    MSG_NOT_FOUND = 14,                  // "The named resource cannot be found."
    MSG_NO_DATA = 15,                    // "Failed to get data. No data is available."
    MSG_STRING_NOT_FOUND = 16,           // "The string resource is not found."
    MSG_SYMBOL_NOT_FOUND = 17,           // "Cannot find the symbol in the dynamic library."
    MSG_NO_THREAD_TOKEN = 18,            // "Cannot get access to the security token of the current thread."
    MSG_UNKNOWN_EXCEPTION = 19,          // "An unknown exception."
    MSG_LABEL_CHANNEL = 20,              // "channel"
    MSG_LABEL_TRACE_LEVEL = 21,          // "trace level"
    MSG_LEVEL_CRITICAL_ERROR = 22,       // "critical error"
    MSG_LEVEL_DEBUG = 23,                // "debug"
    MSG_LEVEL_ERROR = 24,                // "error"
    MSG_LEVEL_INFORMATION = 25,          // "information"
    MSG_LEVEL_WARNING = 26,              // "warning"
    MSG_EVENT = 27,                      // "Event"
    MSG_FILE_ACCESS_DENIED = 28,         // "Access to the file is denied."
    MSG_FILE_EXISTS = 29,                // "The file (folder) already exists."
    MSG_ADS_NOT_SUPPORTED = 30,          // "The alternative data stream is not supported."
    MSG_BACKUP_FAILED = 31,              // "Error occurred while backing up."
    MSG_QUOTA_VIOLATED = 32,             // "The quotas are violated."
    MSG_PIPE_CLOSED = 33,                // "The reading end of a pipe is closed."
    MSG_CANCELED = 34,                   // "Canceled."
    MSG_FILE_CHANGED = 35,               // "The file has changed."
    MSG_FILE_CORRUPTED = 36,             // "The file is corrupted."
    MSG_FILE_CREATE_FAILED = 37,         // "Error occurred while creating the file."
    MSG_DECIPHER_FAILED = 38,            // "Error occurred while deciphering."
    MSG_DEVICE_BUSY = 39,                // "The device is busy."
    MSG_DISK_FULL = 40,                  // "The disk is full."
    MSG_DISK_TOO_SMALL = 41,             // "The disk is too small."
    MSG_DRIVE = 42,                      // "Drive"
    MSG_NO_SUCH_FILE_OR_DRIVE = 43,      // "The specified file/drive does not exist."
    MSG_END_OF_FILE = 44,                // "The end of the file has been reached."
    MSG_FORMATTING_DISK = 45,            // "Formatting the disk."
    MSG_FTP_CONNECTION_FAILED = 46,      // "FTP connection has failed."
    MSG_SOCKET_PATH_TOO_LONG = 47,       // "The full path of a socket file is too long."
    MSG_HARD_LINKS_NOT_SUPPORTED = 48,   // "Hard links are not supported by the file system."
    MSG_INVALID_FILE_HANDLE = 49,        // "Invalid file handle."
    MSG_BACKUP_PASSWORD_INCORRECT = 50,  // "The password for the backup is incorrect."
    MSG_INVALID_USAGE = 51,              // "Invalid usage."
    MSG_FILE_LOCK_FAILED = 52,           // "Failed to lock the file."
    MSG_CANNOT_RESOLVE_FILE_NAME = 53,   // "Cannot resolve the file name."
    MSG_NETWORK_DISCONNECTED = 54,       // "Network disconnected."
    MSG_NETWORK_TIMEOUT = 55,            // "Network disconnected by timeout."
    MSG_FILE_NOT_FOUND = 56,             // "The specified file does not exist."
    MSG_NOT_LAST_VOLUME = 57,            // "This is not the last volume of the backup archive."
    MSG_DRIVE_NOT_READY = 58,            // "The drive is not ready."
    MSG_NO_ERRORS = 59,                  // "There are no errors."
    MSG_FILE_OPEN_FAILED = 60,           // "Error occurred while opening the file."
    MSG_OPERATION_OUT_OF_MEMORY = 61,    // "Not enough memory to complete the operation."
    MSG_PATH_NOT_FOUND = 62,             // "The specified file path does not exist."
    MSG_FILE_READ_ONLY = 63,             // "The file is read-only."
    MSG_FILE_READ_FAILED = 64,           // "Error occurred while reading the file."
    MSG_FILE_DELETE_FAILED = 65,         // "Error occurred while deleting the file."
    MSG_FILE_RENAME_FAILED = 66,         // "Error occurred while renaming the file."
    MSG_RECOVERY_FAILED = 67,            // "Error occurred while recovering."
    MSG_WRITE_SECURITY_ERROR = 68,       // "Security error occurred while opening the file for writing."
    MSG_FILE_SEEK_FAILED = 69,           // "Error occurred while searching in the file."
    MSG_SYMLINKS_NOT_SUPPORTED = 70,     // "Symbolic links are not supported by the file system."
    MSG_TOO_MANY_CHANGED_FILES = 71,     // "Too many changed files are detected."
    MSG_UNMOUNT_FAILED = 72,             // "Error occurred while unmounting."
    MSG_NOT_SUPPORTED = 73,              // "The operation is not supported."
    MSG_UNSUPPORTED_FILE_TYPE = 74,      // "Unsupported file type."
    MSG_USN_NO_DATA = 75,                // "The USN journal does not have the requested data."
    MSG_USN_ENTRY_NOT_FOUND = 76,        // "The requested USN journal entry is not found."
    MSG_USN_VERSION_UNSUPPORTED = 77,    // "The USN journal version is unsupported."
    MSG_FILE_WRITE_FAILED = 78,          // "Error occurred while writing to the file."
};

constexpr uint32_t kMessageCount = 79;

// The text of message `id` in the current catalogue, valid until process exit. The first call
// loads the catalogue; the calling thread's last Windows error code is left unchanged.
const wchar_t* GetMessageText(MessageId id);

// True when `text` points into the image of the catalogue in use.
bool IsInMessageTable(const void* text);

// The catalogue locales of the user's interface languages, most preferred first; "en" when
// none has a catalogue name. Computed once per process.
std::vector<std::string> GetLocaleList();

// The content of the first archive entry "<locale>/<name>" (the plain name for "en") that
// exists for a locale of GetLocaleList(), else of the entry `name` itself. The archive is the
// executable's side file ("<exe name>.dat") or the archive appended to the executable.
// False, with `bytes` empty, when no such entry can be read.
bool ReadLocalisedArchiveEntry(const std::string& name, std::vector<uint8_t>& bytes);

}  // namespace Common
