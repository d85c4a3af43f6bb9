// Profile strings: reading and writing INI files the way the Windows profile functions do.
//
// Files. `file` names an INI file. A name without any '/' or '\\' is looked up in the
// configuration directory (see ConfigDirectory), for reads and writes alike; any other name is
// used as given (relative names against the current directory). The user profile is the file
// "win.ini" in the configuration directory. Files are read as Windows-1252 bytes; CR LF, LF and
// a lone CR all end a line; new files and new lines are written with CR LF. A UTF-8 byte order
// mark in front of the first line is skipped when reading and kept when rewriting.
//
// Only ordinary files are read, opened without blocking: a named pipe, device or folder in the
// place of an INI file, and a file larger than kMaxProfileFileSize, count as unreadable (a read
// gives the default, a write fails and changes nothing).
//
// Reading follows Windows exactly: section and key names compare case-insensitively over
// Windows-1252 letters; blanks (spaces and tabs) around names and values are dropped; one pair
// of enclosing quotes is dropped from a value; only the first section of a name is searched and
// the first occurrence of a key in it wins; comment lines (first non-blank character ';') and
// lines before the first section never match.
//
// Writing keeps every other byte of the file as it was. A write is atomic (a temporary file in
// the same directory, then rename, keeping the file's permissions and following a symbolic
// link to the real file) and writers in different processes are serialised with a lock file
// (".<name>.lock" beside the INI file, never removed), so no update is lost and a reader always
// sees either the old or the new file. For a symbolic link the lock file lies beside the
// target. Every call has updated the file when it returns.
//
// Thread safety: calls from different threads on different files are safe; the programs use
// one thread.
#ifndef LINDAVOX_PLATFORM_PROFILE_H
#define LINDAVOX_PLATFORM_PROFILE_H

#include <cstddef>
#include <cstdint>
#include <string>

namespace platform {

// INI and language files are a few kilobytes; anything beyond this is refused as unreadable, so
// a stray huge file or one linked to /dev/zero costs neither time nor memory.
inline constexpr size_t kMaxProfileFileSize = 16u << 20;

// The configuration directory, with a trailing '/': $LINDAVOX_CONFIG_DIR if set and not empty,
// else $XDG_CONFIG_HOME/lindavox, else $HOME/.config/lindavox; empty when there is no home
// directory either. Read anew on every call, so tests can point it elsewhere. Not created
// here: the first write of a file in it creates it (and its missing parents below the home
// directory) with mode 0700, as XDG programs do. An INI file named with a directory of its own
// is never given one: a write into a missing directory fails.
std::string ConfigDirectory();

// The path a profile function uses for `file` (see the file rules above).
std::string ResolveProfilePath(const char* file);

// Reads a string. Returns the number of characters copied to `buffer`, without the terminator.
// - `section` and `key`: only spaces are stripped from their ends; quotes are never stripped.
// - `defaultValue`: null means ""; its trailing spaces (0x20 only) are removed. Used when the
//   file, the section or the key is missing; a key present with an empty value gives "".
// - `size` 0: returns 0 and leaves the buffer alone. A value that does not fit is cut to
//   size - 1 characters plus the terminator, and size - 1 is returned.
// - null `section`: all section names, each terminated, the list ending with an extra
//   terminator; the count includes the names' terminators but not the final one. Null `key`:
//   the key names of the first matching section in the same form (comments and lines without
//   '=' left out). On overflow the last name is cut and followed by two terminators, and
//   size - 2 is returned (size 1: just a terminator, 0). Section names that fill the buffer
//   exactly count as cut too (size - 2, as on Windows); key names may fill it (size - 1).
//   A missing file, or for a null key a
//   missing section, gives the default instead. Empty names ("[]") are not listed; a line
//   "=v" is no key at all.
// - empty or null `file`: the default.
uint32_t ReadProfileString(const char* section, const char* key, const char* defaultValue,
                           char* buffer, uint32_t size, const char* file);

// Reads a number: the value read as a string (so trimmed and unquoted), then optional blanks,
// optional '+' or '-', decimal digits up to the first non-digit, taken modulo 2^32. A value
// without digits gives 0; a missing key (or file or section), or a null section or key, gives
// `defaultValue`.
uint32_t ReadProfileInt(const char* section, const char* key, uint32_t defaultValue,
                        const char* file);

// Writes a string. Returns true when the file holds the change (or no change was needed).
// - existing key: value replaced in place, keeping the key's spelling; the line ends CR LF.
// - new key: appended after the last key line of the first matching section.
// - new section: appended at the end of the file as "[Sec]" CR LF "Key=Val" CR LF.
// - new file: exactly "[Sec]" CR LF "Key=Val" CR LF.
// - null `value`: deletes the key's line (an absent key: true, no change).
// - null `key`: deletes the section header and its key lines; comment lines inside stay.
// - null `section`, a key that is empty after stripping spaces, a section, key or value holding
//   CR or LF (it would add lines of its own), empty or null `file`, a missing directory (other
//   than the configuration directory), or any I/O failure: false, and the file is left exactly
//   as it was.
// Section and key are written without surrounding spaces; the value as given.
bool WriteProfileString(const char* section, const char* key, const char* value, const char* file);

// The same three on the user profile ("win.ini").
uint32_t ReadUserProfileString(const char* section, const char* key, const char* defaultValue,
                               char* buffer, uint32_t size);
uint32_t ReadUserProfileInt(const char* section, const char* key, uint32_t defaultValue);
bool WriteUserProfileString(const char* section, const char* key, const char* value);

}  // namespace platform

#endif
