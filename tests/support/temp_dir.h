// A fresh folder for one test, removed with everything in it when the test ends.
#pragma once

#include <string>

namespace quillo::test {

class TempDir {
  public:
    // Creates "<system temp>/<label>-<pid>-<n>-<random>". The folder exists after
    // construction; when it cannot be made, path() is empty and ok() false.
    explicit TempDir(const std::string& label = "quillo-test");
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    bool ok() const { return !path_.empty(); }
    // The folder, with forward slashes, without a trailing one.
    const std::string& path() const { return path_; }
    // path() + "/" + name.
    std::string File(const std::string& name) const;

  private:
    std::string path_;
};

}  // namespace quillo::test
