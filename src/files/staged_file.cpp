#include "files/staged_file.h"

#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>

#include "files/safe_open.h"

namespace demodctl {
namespace {

// A name is taken again only after a leftover of a killed process with the same pid, the same
// counter and the same clock reading; a few tries get past that.
constexpr int kNameTries = 3;

std::string temp_name_for(const std::string& final_path) {
  static std::atomic<unsigned> counter{0};
  const auto now = std::chrono::steady_clock::now().time_since_epoch().count();
  return final_path + ".staged-" + std::to_string(::getpid()) + "-" + std::to_string(counter++) +
         "-" + std::to_string(now);
}

int open_new(const std::string& path, mode_t mode, int* error_number) {
  FileRule rule;
  rule.access = O_WRONLY | O_CREAT | O_EXCL;  // O_EXCL: never an existing file, link or FIFO
  rule.create_mode = mode;
  const Result<int> fd = open_file(path, rule);
  *error_number = errno;
  return fd.value_or(-1);
}

}  // namespace

StagedFile::StagedFile(std::string final_path, mode_t mode)
    : final_path_(std::move(final_path)), mode_(mode) {}

StagedFile::~StagedFile() {
  if (!temp_path_.empty()) ::unlink(temp_path_.c_str());
}

Fault StagedFile::fail(int error_number) {
  Fault fault{FaultKind::file, final_path_ + ": " + std::strerror(error_number)};
  if (!temp_path_.empty()) ::unlink(temp_path_.c_str());
  temp_path_.clear();
  return fault;
}

Result<void> StagedFile::write(const void* data, std::size_t size) {
  if (!temp_path_.empty()) return fail(EEXIST);
  int fd = -1;
  int error_number = 0;
  for (int i = 0; i < kNameTries && fd < 0; ++i) {
    const std::string name = temp_name_for(final_path_);
    fd = open_new(name, mode_, &error_number);
    if (fd >= 0) temp_path_ = name;
  }
  if (fd < 0) return fail(error_number);
  const auto* bytes = static_cast<const unsigned char*>(data);
  std::size_t done = 0;
  while (done < size) {
    const ssize_t n = ::write(fd, bytes + done, size - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      // A short write without an error is the file system (or the size limit) out of room.
      error_number = n < 0 ? errno : ENOSPC;
      ::close(fd);
      return fail(error_number);
    }
    done += static_cast<std::size_t>(n);
  }
  if (::fsync(fd) != 0) {
    error_number = errno;
    ::close(fd);
    return fail(error_number);
  }
  if (::close(fd) != 0) return fail(errno);
  return {};
}

Result<void> StagedFile::commit() {
  if (temp_path_.empty()) return fail(ENOENT);
  if (::rename(temp_path_.c_str(), final_path_.c_str()) != 0) return fail(errno);
  temp_path_.clear();
  return {};
}

Result<void> sync_directory_of(const std::string& path) {
  const size_t slash = path.rfind('/');
  const std::string dir =
      slash == std::string::npos ? "." : (slash == 0 ? "/" : path.substr(0, slash));
  const int fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  const bool synced = fd >= 0 && ::fsync(fd) == 0;
  const int error_number = errno;
  if (fd >= 0) ::close(fd);
  if (!synced) return Fault{FaultKind::file, dir + ": " + std::strerror(error_number)};
  return {};
}

}  // namespace demodctl
