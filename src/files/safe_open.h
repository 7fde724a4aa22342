// Every file the programs name (scenarios, bus traces, the debug log, the sample file's leftovers)
// is opened under one rule: a symbolic link is never followed, neither the open nor a read ever
// waits (a FIFO, a device, a /proc file that blocks), and what was opened must be a regular file;
// a trace may also be a character device such as /dev/null.
#pragma once

#include <fcntl.h>
#include <sys/types.h>

#include <cstddef>
#include <string>

#include "result/result.h"

namespace demodctl {

struct FileRule {
  // O_RDONLY, O_WRONLY or O_RDWR, with O_CREAT and O_APPEND as needed. Never O_TRUNC: it would
  // act before the checks (see `truncate`).
  int access = O_RDONLY;
  // Emptied once the checks have passed.
  bool truncate = false;
  // A character device (/dev/null) is accepted besides a regular file.
  bool char_device_ok = false;
  // Permissions of a created file, before the umask.
  mode_t create_mode = 0666;
};

// A descriptor (close-on-exec, non-blocking, never the controlling terminal), or a file fault
// whose cause is one line such as "it is a symbolic link (name the file itself)", "it is a FIFO,
// not a file", "it is a directory", "not a regular file" or the system's text ("Permission
// denied"); errno is left as the refusing call set it.
Result<int> open_file(const std::string& path, const FileRule& rule);

// The whole content of a regular file of at most max_bytes, read under the rule above; a file
// fault when it cannot be opened, is larger, cannot be read, or a read would wait.
Result<std::string> read_small_file(const std::string& path, std::size_t max_bytes);

}  // namespace demodctl
