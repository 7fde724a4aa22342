#include "bus/verbose.h"

#include <poll.h>
#include <unistd.h>

#include <string>

namespace demodctl {
namespace {

constexpr int kStandardError = 2;
// A standard error nobody reads (a full pipe, a stopped terminal) gets this long to take a line;
// then the line is dropped, never the run held up.
constexpr int kWriteBoundMs = 1000;
constexpr unsigned char kFirstPrintable = 0x20;  // ' '
constexpr unsigned char kDelete = 0x7F;

}  // namespace

void say_why(bool verbose, const std::string& why) {
  if (!verbose) return;
  std::string line = "demodctl: ";
  for (const char c : why) {
    const auto byte = static_cast<unsigned char>(c);
    const bool control = byte < kFirstPrintable || byte == kDelete;
    line.push_back(control ? '?' : c);
  }
  line.push_back('\n');
  pollfd p{kStandardError, POLLOUT, 0};
  if (::poll(&p, 1, kWriteBoundMs) <= 0 || (p.revents & POLLOUT) == 0) return;
  // One write: a short line into a pipe or a terminal goes out whole.
  if (::write(kStandardError, line.data(), line.size()) < 0) {
    // Nothing more can be done when standard error itself fails.
  }
}

}  // namespace demodctl
