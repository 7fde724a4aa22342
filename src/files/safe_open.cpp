#include "files/safe_open.h"

#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstring>

namespace demodctl {
namespace {

// O_NOFOLLOW: the last path component is never a link followed; O_NONBLOCK: opening a FIFO or a
// device does not wait for its other end; O_NOCTTY: a terminal never becomes ours.
constexpr int kAlwaysFlags = O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | O_NOCTTY;
constexpr std::size_t kReadChunk = 16 * 1024;
constexpr std::size_t kMebibyte = 1024 * 1024;

const char* kind_problem(mode_t mode, bool char_device_ok) {
  if (S_ISREG(mode) || (char_device_ok && S_ISCHR(mode))) return nullptr;
  if (S_ISLNK(mode)) return "it is a symbolic link (name the file itself)";
  if (S_ISFIFO(mode)) return "it is a FIFO, not a file";
  if (S_ISDIR(mode)) return "it is a directory";
  return "not a regular file";
}

std::string size_text(std::size_t bytes) {
  if (bytes % kMebibyte == 0) return std::to_string(bytes / kMebibyte) + " MiB";
  return std::to_string(bytes) + " bytes";
}

}  // namespace

Result<int> open_file(const std::string& path, const FileRule& rule) {
  const auto refuse = [](const char* why) {
    const int refusing_errno = errno;
    Fault fault{FaultKind::file, why};
    errno = refusing_errno;  // what a caller may still ask (ENOSPC, EEXIST)
    return fault;
  };
  // What stands there now is looked at first, so that a device (some act when opened) or a FIFO
  // is refused without being opened at all.
  struct stat st {};
  if (::lstat(path.c_str(), &st) == 0) {
    if (const char* problem = kind_problem(st.st_mode, rule.char_device_ok)) return refuse(problem);
  }
  const int fd = ::open(path.c_str(), (rule.access & ~O_TRUNC) | kAlwaysFlags, rule.create_mode);
  if (fd < 0) return refuse(errno == ELOOP ? kind_problem(S_IFLNK, false) : std::strerror(errno));
  // The name may have changed since lstat: what was opened is what counts.
  const char* problem =
      ::fstat(fd, &st) != 0 ? std::strerror(errno) : kind_problem(st.st_mode, rule.char_device_ok);
  if (problem == nullptr && rule.truncate && S_ISREG(st.st_mode) && ::ftruncate(fd, 0) != 0) {
    problem = std::strerror(errno);
  }
  if (problem == nullptr) return fd;
  Fault fault = refuse(problem);
  ::close(fd);
  return fault;
}

Result<std::string> read_small_file(const std::string& path, std::size_t max_bytes) {
  const Result<int> opened = open_file(path, FileRule{});
  if (!opened) return opened.error();
  const int fd = *opened;
  std::string text;
  const char* problem = nullptr;
  std::array<char, kReadChunk> chunk{};
  for (;;) {
    const ssize_t n = ::read(fd, chunk.data(), chunk.size());
    if (n > 0) {
      if (text.size() + static_cast<std::size_t>(n) > max_bytes) {
        ::close(fd);
        return Fault{FaultKind::file, "larger than " + size_text(max_bytes)};
      }
      text.append(chunk.data(), static_cast<std::size_t>(n));
    } else if (n == 0) {
      break;
    } else if (errno != EINTR) {
      // A file that looks regular but waits for data (/proc/kmsg) is not a file to read.
      problem = errno == EAGAIN ? "a read would wait (not a plain file)" : std::strerror(errno);
      break;
    }
  }
  ::close(fd);
  if (problem == nullptr) return text;
  return Fault{FaultKind::file, problem};
}

}  // namespace demodctl
