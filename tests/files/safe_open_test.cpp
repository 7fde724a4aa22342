// The one rule every file is opened by, what each kind of path gives, and the standard
// descriptors a program may be started without.
#include "files/safe_open.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <tuple>

#include "files/standard_descriptors.h"
#include "support/process.h"
#include "support/temp_dir.h"

namespace demodctl {
namespace {

constexpr FileRule kRead{};
constexpr FileRule kLog{.access = O_RDWR | O_CREAT, .truncate = true};
constexpr FileRule kTrace{
    .access = O_WRONLY | O_CREAT, .truncate = true, .char_device_ok = true, .create_mode = 0600};

// A name in the test directory or an absolute path, the rule, why it is refused ("": it opens).
const std::tuple<const char*, FileRule, const char*> kOpenCases[] = {
    {"file", kRead, ""},
    {"file", kLog, ""},
    {"new", kLog, ""},
    {"absent", kRead, "No such file or directory"},
    {"link", kRead, "it is a symbolic link (name the file itself)"},
    {"dangling", kLog, "it is a symbolic link (name the file itself)"},
    {"fifo", kRead, "it is a FIFO, not a file"},
    {"fifo", kTrace, "it is a FIFO, not a file"},  // no reader: an open for writing would wait
    {".", kRead, "it is a directory"},
    {"/dev/null", kLog, "not a regular file"},
    {"/dev/null", kTrace, ""},
};

TEST(OpenFile, EachKindOfPath) {
  const testing::TempDir dir;
  const std::string target = testing::write_file(dir.path(), "target", "precious");
  ASSERT_EQ(symlink(target.c_str(), (dir / "link").c_str()), 0);
  ASSERT_EQ(symlink((dir / "made").c_str(), (dir / "dangling").c_str()), 0);
  ASSERT_EQ(mkfifo((dir / "fifo").c_str(), 0600), 0);
  for (const auto& [name, rule, reason] : kOpenCases) {
    testing::write_file(dir.path(), "file", "older");
    const std::string path = name[0] == '/' ? name : dir / name;
    const Result<int> opened = open_file(path, rule);
    EXPECT_EQ(opened ? "" : opened.error().cause, reason) << name;
    if (opened) {
      const int fd = *opened;
      // Close-on-exec and emptied only where the rule says so.
      EXPECT_NE(fcntl(fd, F_GETFD) & FD_CLOEXEC, 0) << name;
      if (std::string(name) == "file") {
        EXPECT_EQ(testing::read_file(path), rule.truncate ? "" : "older") << name;
      }
      close(fd);
    }
  }
  EXPECT_EQ(testing::read_file(target), "precious");
  EXPECT_NE(access((dir / "made").c_str(), F_OK), 0) << "nothing is created through a link";
}

TEST(ReadSmallFile, WholeFileOrWhyNot) {
  const testing::TempDir dir;
  testing::write_file(dir.path(), "four", "1234");
  const std::tuple<std::string, size_t, const char*> cases[] = {
      // path, the most bytes taken, the text or why not (/dev/zero, endless, is refused unread)
      {dir / "four", 4, "1234"},
      {dir / "four", 3, "larger than 3 bytes"},
      {"/dev/zero", 4, "not a regular file"},
  };
  for (const auto& [path, max, text_or_why] : cases) {
    const Result<std::string> text = read_small_file(path, max);
    EXPECT_EQ(text ? *text : text.error().cause, text_or_why) << path;
  }
}

// In a child, so that this process keeps its own descriptors: each closed one of 0..2 is taken by
// /dev/null, and a closed standard output is reported.
TEST(StandardDescriptors, ClosedOnesAreTakenByDevNull) {
  for (const int closed : {0, 1, 2}) {
    const pid_t pid = fork();
    if (pid == 0) {
      close(closed);
      const StandardDescriptors got = occupy_standard_descriptors();
      struct stat st {};
      const bool on_null = fstat(closed, &st) == 0 && S_ISCHR(st.st_mode);
      _exit(got.usable && on_null && got.output_closed == (closed == 1) ? 0 : 1);
    }
    int raw = 0;
    ASSERT_EQ(waitpid(pid, &raw, 0), pid);
    EXPECT_TRUE(WIFEXITED(raw) && WEXITSTATUS(raw) == 0) << "descriptor " << closed;
  }
}

}  // namespace
}  // namespace demodctl
