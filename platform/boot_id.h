// Which start of the system this is: the kernel's boot id, new every time the system starts.
//
// A program that finds what another one left in a file can tell from it whether the system has
// been restarted since (a power cut, a crash of the system): within one start everything any
// process wrote is in the page cache and visible, whether or not it was synced; after a restart
// only what was synced is certain.
//
// A test that plays a restart (testsupport/crash_states.h, which checks the states a power cut
// could leave) names another boot id for a while with ScopedBootId.
#ifndef LINDAVOX_PLATFORM_BOOT_ID_H
#define LINDAVOX_PLATFORM_BOOT_ID_H

#include <string>

namespace platform {

// The boot id (/proc/sys/kernel/random/boot_id, 36 characters), or "" when it cannot be read.
std::string BootId();

// Makes BootId() return `id` for the object's lifetime. Not for concurrent use with BootId().
class ScopedBootId {
 public:
  explicit ScopedBootId(std::string id);
  ~ScopedBootId();
  ScopedBootId(const ScopedBootId&) = delete;
  ScopedBootId& operator=(const ScopedBootId&) = delete;

 private:
  std::string previous_;
  bool hadPrevious_;
};

}  // namespace platform

#endif
