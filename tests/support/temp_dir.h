// Temporary directories that tests own: each is made under $TMPDIR (else /tmp) and removed with
// everything in it when its owner goes, also when an assertion ended the test early.
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <string>

namespace demodctl::testing {

class TempDir {
 public:
  TempDir();   // a fresh, empty directory (a failed test when none can be made)
  ~TempDir();  // removes it and its contents
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::string& path() const { return path_; }
  std::string operator/(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

// Runs body(dir) with the working directory set to a fresh temporary directory; the directory
// is removed and the working directory restored afterwards, whatever the body asserted.
void in_temp_dir(const std::function<void(const std::string&)>& body);

}  // namespace demodctl::testing
