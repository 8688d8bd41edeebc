// An advisory lock beside a file, so that two copies of the program never
// save the same file at once.
#pragma once

#include <string>

namespace media {

// An advisory lock (flock) held on a lock file for as long as it lives.
class TFileLock {
  public:
    // Creates the lock file when needed and waits up to waitMs for the lock.
    TFileLock(const std::string& path, int waitMs);
    ~TFileLock();
    TFileLock(const TFileLock&) = delete;
    TFileLock& operator=(const TFileLock&) = delete;
    // Returns true when the lock is held.
    bool Held() const { return held_; }

  private:
    int fd_ = -1;
    bool held_ = false;
};

}  // namespace media
