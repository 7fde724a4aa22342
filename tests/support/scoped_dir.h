// A fresh temporary directory under $TMPDIR (or /tmp), removed with everything in it when the
// test that made it ends, whether it passed or failed.
#pragma once

#include <cstdlib>
#include <filesystem>
#include <string>

namespace demodctl::testing {

class ScopedDir {
 public:
  ScopedDir() {
    const char* tmp = std::getenv("TMPDIR");
    std::string pattern =
        std::string(tmp != nullptr && *tmp != '\0' ? tmp : "/tmp") + "/demodctl-test-XXXXXX";
    if (::mkdtemp(pattern.data()) != nullptr) path_ = pattern;
  }
  ~ScopedDir() {
    std::error_code ignored;
    if (!path_.empty()) std::filesystem::remove_all(path_, ignored);
  }
  ScopedDir(const ScopedDir&) = delete;
  ScopedDir& operator=(const ScopedDir&) = delete;

  const std::string& path() const { return path_; }
  std::string operator/(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

}  // namespace demodctl::testing
