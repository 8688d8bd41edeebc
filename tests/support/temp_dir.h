// A temporary folder for one test, removed with everything in it at the end,
// and a guard that restores the current directory.
#pragma once

#include <string>

namespace zqtest {

class TempDir {
  public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    // Returns the folder's absolute path.
    const std::string& path() const { return path_; }
    // Returns path() + "/" + name.
    std::string operator/(const std::string& name) const { return path_ + "/" + name; }

  private:
    std::string path_;
};

// Restores the current directory when it goes out of scope.
class CwdGuard {
  public:
    CwdGuard();
    ~CwdGuard();
    CwdGuard(const CwdGuard&) = delete;
    CwdGuard& operator=(const CwdGuard&) = delete;

  private:
    std::string saved_;
};

// Returns the whole content of a file ("" when it cannot be read).
std::string ReadWholeFile(const std::string& path);
// Writes bytes to a file, replacing it; returns false on failure.
bool WriteWholeFile(const std::string& path, const std::string& bytes);

}  // namespace zqtest
