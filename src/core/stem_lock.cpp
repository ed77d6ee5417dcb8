// The lock is taken with flock on an open descriptor, so it belongs to this process's open
// file and vanishes with the process. Because a finishing analysis removes the file, a process
// may lock a file that was just unlinked; it then checks that the name still leads to the
// file it locked and otherwise tries again on the new one.
#include "core/stem_lock.hpp"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <system_error>

#include "core/replacing_file.hpp"

namespace kinrad {

namespace {

// True when `path` names the file open on fd.
bool same_file(int fd, const std::string& path) {
  struct stat held {};
  struct stat named {};
  if (::fstat(fd, &held) != 0 || ::stat(path.c_str(), &named) != 0) return false;
  return held.st_dev == named.st_dev && held.st_ino == named.st_ino;
}

}  // namespace

std::string stem_lock_name(const std::string& stem) {
  return stem + ".Lock";
}

StemLockResult lock_output_stem(const std::string& stem) {
  const std::string path = stem_lock_name(stem);
  StemLock& lock = stem_lock;
  if (lock.fd >= 0) {
    if (lock.path == path && same_file(lock.fd, path)) return StemLockResult::locked;
    release_output_stem();
  }
  for (;;) {
    const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0) return StemLockResult::unusable;
    int rc = 0;
    do {
      rc = ::flock(fd, LOCK_EX | LOCK_NB);
    } while (rc != 0 && errno == EINTR);
    if (rc != 0) {
      const bool busy = errno == EWOULDBLOCK;
      ::close(fd);
      return busy ? StemLockResult::busy : StemLockResult::unusable;
    }
    if (same_file(fd, path)) {
      lock.fd = fd;
      lock.path = path;
      // The start is read from the file system's own clock (the lock file stamped now), so
      // that it compares with the times of files written since, which that clock gives.
      ::futimens(fd, nullptr);
      std::error_code ec;
      lock.since = std::filesystem::last_write_time(path, ec);
      if (ec) lock.since = std::filesystem::file_time_type::clock::now();
      // Under the lock no temporary of the stem belongs to a running analysis: those left by
      // a killed one would otherwise stay for good.
      remove_stem_temporaries(stem);
      return StemLockResult::locked;
    }
    // The holder removed the file between our open and our lock: lock the name anew.
    ::close(fd);
  }
}

void release_output_stem() {
  StemLock& lock = stem_lock;
  if (lock.fd < 0) return;
  // Removed while still locked, so that no other analysis can have locked this file.
  if (same_file(lock.fd, lock.path)) ::unlink(lock.path.c_str());
  ::close(lock.fd);
  lock = StemLock{};
}

}  // namespace kinrad
