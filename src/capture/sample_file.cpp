#include "capture/sample_file.h"

#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cstring>
#include <string>

#include "bus/verbose.h"

namespace demodctl {
namespace {

constexpr char kHeader[] = "Column:2\n";
// The longest line any pair of ints makes, "-2147483648,-2147483648\n" (a capture's samples are
// 9 bits at most, but the room does not rely on it).
constexpr size_t kMaxIntLength = 11;
constexpr size_t kMaxLineLength = 2 * kMaxIntLength + 2;

// "%d,%d\n" of the pair at `out`, which has room for kMaxLineLength bytes; the end of the line.
char* put_line(char* out, const SamplePair& pair) {
  char* const end = out + kMaxLineLength;
  out = std::to_chars(out, end, pair.first).ptr;
  *out++ = ',';
  out = std::to_chars(out, end, pair.second).ptr;
  *out++ = '\n';
  return out;
}

}  // namespace

bool SampleFile::fail() {
  const int err = errno;  // of the call that just failed, before anything else can change it
  if (!failed_) {
    failed_ = true;
    say_why(verbose_, std::string("sample file ") + kSampleFileName + ": " +
                          (err != 0 ? std::strerror(err) : "write failed"));
  }
  return false;
}

bool SampleFile::create() {
  errno = 0;
  if (!temp_.create()) return fail();
  text_.assign(kHeader);
  return true;
}

bool SampleFile::write(std::span<const SamplePair> pairs) {
  if (failed_ || temp_.fd() < 0) return false;
  // The lines are formatted into the text, which commit() writes in one go: the file is small
  // (2049 lines, some 15 kB), and one write costs far less than a buffered stream's several.
  const size_t start = text_.size();
  text_.resize(start + pairs.size() * kMaxLineLength);
  char* out = text_.data() + start;
  for (const SamplePair& pair : pairs) out = put_line(out, pair);
  text_.resize(static_cast<size_t>(out - text_.data()));
  return true;
}

bool SampleFile::put_text() {
  const char* data = text_.data();
  size_t left = text_.size();
  while (left > 0) {
    errno = 0;
    const ssize_t n = ::write(temp_.fd(), data, left);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return fail();  // a write of nothing with no error: the disk is full
    data += n;
    left -= static_cast<size_t>(n);
  }
  return true;
}

bool SampleFile::commit() {
  if (temp_.fd() < 0 || failed_) return false;
  // On disk before the rename, so that even a power cut leaves the old file or the new one.
  if (!put_text()) return false;
  errno = 0;
  if (::fsync(temp_.fd()) != 0) return fail();
  errno = 0;
  return temp_.commit() || fail();
}

}  // namespace demodctl
