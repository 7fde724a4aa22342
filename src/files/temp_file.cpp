#include "files/temp_file.h"

#include <dirent.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cstdlib>
#include <ctime>

#include "files/removal_on_signal.h"
#include "files/safe_open.h"

namespace demodctl {
namespace {

constexpr const char* kTempSuffix = ".XXXXXX";
constexpr std::size_t kTempSuffixLength = 7;  // the dot and six characters mkstemp chooses
constexpr mode_t kNewFileMode = 0666;
// A file modified this recently may be one whose owner has created it and not yet locked it.
constexpr time_t kYoungestAbandonedSeconds = 1;

bool is_temp_name(const std::string& name, const std::string& final_name) {
  if (name.size() != final_name.size() + kTempSuffixLength || !name.starts_with(final_name) ||
      name[final_name.size()] != '.') {
    return false;
  }
  for (std::size_t i = final_name.size() + 1; i < name.size(); ++i) {
    if (std::isalnum(static_cast<unsigned char>(name[i])) == 0) return false;
  }
  return true;
}

bool modified_lately(const struct stat& st) {
  const time_t now = std::time(nullptr);
  return st.st_mtim.tv_sec + kYoungestAbandonedSeconds >= now;
}

// Removes `name` when it is a regular file nobody holds, old enough, and still the file locked.
void remove_if_abandoned(const std::string& name) {
  const Result<int> opened = open_file(name, FileRule{});
  if (!opened) return;
  const int fd = *opened;
  struct stat held {};
  struct stat there {};
  if (::flock(fd, LOCK_EX | LOCK_NB) == 0 && ::fstat(fd, &held) == 0 && !modified_lately(held) &&
      ::lstat(name.c_str(), &there) == 0 && there.st_dev == held.st_dev &&
      there.st_ino == held.st_ino) {
    ::unlink(name.c_str());
  }
  ::close(fd);  // releases the lock
}

}  // namespace

void remove_abandoned_temp_files(const std::string& final_name) {
  DIR* dir = ::opendir(".");
  if (dir == nullptr) return;
  while (const dirent* entry = ::readdir(dir)) {
    const std::string name = entry->d_name;
    if (is_temp_name(name, final_name)) remove_if_abandoned(name);
  }
  ::closedir(dir);
}

TempFile::TempFile(std::string final_name) : final_name_(std::move(final_name)) {}

TempFile::~TempFile() {
  if (fd_ < 0) return;
  const SignalHold hold;
  ::unlink(temp_name_.c_str());
  release();
}

bool TempFile::create() {
  if (fd_ >= 0) return false;
  remove_abandoned_temp_files(final_name_);
  std::string name = final_name_ + kTempSuffix;
  const SignalHold hold;  // from its creation on, the file is locked and guarded
  const int fd = ::mkostemp(name.data(), O_CLOEXEC);  // O_EXCL: never a link, never a FIFO
  if (fd < 0) return false;
  if (::flock(fd, LOCK_EX) != 0 || !guard_file_on_signal(name.c_str())) {
    ::unlink(name.c_str());
    ::close(fd);
    return false;
  }
  fd_ = fd;
  temp_name_ = name;
  // mkstemp makes the file private; give it the permissions a plain new file would get.
  const mode_t mask = ::umask(0);
  ::umask(mask);
  ::fchmod(fd_, kNewFileMode & ~mask);
  return true;
}

bool TempFile::commit() {
  if (fd_ < 0) return false;
  const SignalHold hold;
  const bool renamed = ::rename(temp_name_.c_str(), final_name_.c_str()) == 0;
  if (!renamed) ::unlink(temp_name_.c_str());
  release();  // the lock is let go only once the temporary name is gone
  return renamed;
}

void TempFile::release() {
  drop_signal_guard();
  ::close(fd_);
  fd_ = -1;
  temp_name_.clear();
}

}  // namespace demodctl
