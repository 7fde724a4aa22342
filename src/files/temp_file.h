// A file written under a temporary name `NAME.XXXXXX` in the working directory and renamed over
// NAME only when complete, so that NAME is never seen half-written and an earlier NAME is never
// lost to a run that fails.
//
// The temporary file never outlives its owner:
// - it is removed when the owner fails, and when SIGINT, SIGTERM, SIGHUP, SIGPIPE or SIGQUIT ends
// it;
// - its owner holds an exclusive flock on it for its whole life. A process killed outright
//   (SIGKILL, a power cut) leaves a file nobody holds; the next creation of a temporary file for
//   NAME in that directory removes such leftovers, never a file whose owner is alive.
#pragma once

#include <string>

namespace demodctl {

class TempFile {
 public:
  explicit TempFile(std::string final_name);
  ~TempFile();  // removes the temporary file unless committed
  TempFile(const TempFile&) = delete;
  TempFile& operator=(const TempFile&) = delete;

  // Removes abandoned temporary files of NAME, then creates a new one with the permissions a
  // plain new file would get (0666 less the umask). False when it cannot be created.
  bool create();
  // Read-write descriptor of the temporary file, owned by this object; -1 before create().
  int fd() const { return fd_; }
  // Renames the temporary file over NAME. False when the rename fails (the file is then removed).
  bool commit();

 private:
  void release();
  std::string final_name_;
  std::string temp_name_;
  int fd_ = -1;
};

// Removes every `NAME.XXXXXX` in the working directory that is a regular file whose owner is
// gone (nobody holds its lock) and that was not modified within the last second.
void remove_abandoned_temp_files(const std::string& final_name);

}  // namespace demodctl
