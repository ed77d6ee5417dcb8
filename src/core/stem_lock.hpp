#pragma once
// The output stem of a running analysis is locked, so that a second analysis naming the same
// stem (in the same folder, at the same time) cannot overwrite or trust the first one's
// checkpoints, caches and results. The lock is an advisory lock on "<stem>.Lock", which the
// system releases when the process ends, however it ends (a killed analysis never blocks its
// restart); an analysis that ends normally also removes the file.
#include <filesystem>
#include <string>

namespace kinrad {

struct StemLock {
  int fd = -1;                              // the open lock file, -1 when none is held
  std::string path;                         // its name
  std::filesystem::file_time_type since{};  // when the lock was taken
};
constinit inline StemLock stem_lock{};

enum class StemLockResult {
  locked,    // this process holds the stem (also when it held it already)
  busy,      // another process holds it
  unusable,  // the lock file cannot be created there (no such folder, no permission)
};

// The name of the lock file of a stem.
std::string stem_lock_name(const std::string& stem);

// Takes the lock of the stem without waiting; a lock this process holds on another stem is
// released first. Taking it removes the temporaries of the stem that ended analyses left
// (remove_stem_temporaries).
StemLockResult lock_output_stem(const std::string& stem);

// Removes the lock file and releases the lock, when this process holds one.
void release_output_stem();

}  // namespace kinrad
