// The configuration directory behind the profile functions (profile.h declares ConfigDirectory
// and ResolveProfilePath): where it is, and creating it on the first write.
#ifndef LINDAVOX_PLATFORM_CONFIG_DIR_H
#define LINDAVOX_PLATFORM_CONFIG_DIR_H

namespace platform {

// True when `file` is a bare name (no '/' or '\\'), which the profile functions look up in the
// configuration directory.
bool NamesConfigFile(const char* file);

// Creates the configuration directory, as XDG programs do on their first write: each missing
// directory of its path with mode 0700 (less the umask), $XDG_CONFIG_HOME included; the home
// directory itself is never created. Existing directories are left as they are. Returns 0
// when the directory exists afterwards, else the errno of the failure.
int CreateConfigDirectory();

}  // namespace platform

#endif
