#include "support/temp_dir.h"

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <system_error>

namespace demodctl::testing {

// Where a test writes when no directory could be made: writes there fail and nothing is removed.
constexpr const char* kNoDir = "/nonexistent";

TempDir::TempDir() {
  const char* root = std::getenv("TMPDIR");
  std::string name =
      std::string(root != nullptr && *root != '\0' ? root : "/tmp") + "/demodctl-test-XXXXXX";
  if (mkdtemp(name.data()) != nullptr) {
    path_ = name;
  } else {
    ADD_FAILURE() << "cannot make a temporary directory from " << name;
    path_ = kNoDir;
  }
}

TempDir::~TempDir() {
  if (path_ == kNoDir) return;
  std::error_code ec;
  std::filesystem::remove_all(path_, ec);
  if (ec) ADD_FAILURE() << "cannot remove " << path_ << ": " << ec.message();
}

void in_temp_dir(const std::function<void(const std::string&)>& body) {
  const TempDir dir;
  char old[4096];
  if (getcwd(old, sizeof old) == nullptr || chdir(dir.path().c_str()) != 0) {
    ADD_FAILURE() << "cannot enter " << dir.path();
    return;
  }
  struct GoBack {  // to the old working directory, also when the body throws
    const char* path;
    ~GoBack() {
      if (chdir(path) != 0) ADD_FAILURE() << "cannot go back to " << path;
    }
  } const back{old};
  body(dir.path());
}

}  // namespace demodctl::testing
