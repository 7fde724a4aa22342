#include "i2c/trace_log.h"

#include <errno.h>  // program_invocation_short_name
#include <poll.h>
#include <unistd.h>

#include <cstring>
#include <string_view>

#include "files/safe_open.h"

namespace demodctl {
namespace {

constexpr int kStandardError = 2;
// The longest one line waits for an output that cannot take it (a full pipe nobody reads, a
// stopped terminal); then the trace counts as failed.
constexpr int kWriteBoundMs = 1000;
// A trace may show what was on the bus: readable by its owner only.
constexpr mode_t kTraceFileMode = 0600;

constexpr char kHexDigits[] = "0123456789ABCDEF";
constexpr unsigned kNibbleBits = 4;
constexpr uint8_t kNibbleMask = 0x0F;

// "0xD0"
std::string hex_byte(uint8_t value) {
  const char text[] = {'0', 'x', kHexDigits[value >> kNibbleBits], kHexDigits[value & kNibbleMask]};
  return std::string(text, sizeof text);
}

// "10 01 36 31"
std::string hex_pairs(std::span<const uint8_t> bytes) {
  std::string out;
  out.reserve(bytes.size() * 3);
  for (const uint8_t b : bytes) {
    if (!out.empty()) out.push_back(' ');
    out.push_back(kHexDigits[b >> kNibbleBits]);
    out.push_back(kHexDigits[b & kNibbleMask]);
  }
  return out;
}

bool writable_within_bound(int fd) {
  pollfd p{fd, POLLOUT, 0};
  return ::poll(&p, 1, kWriteBoundMs) > 0 && (p.revents & POLLOUT) != 0;
}

}  // namespace

std::unique_ptr<TraceLog> TraceLog::create(const std::string& path, std::string* error) {
  const auto refuse = [&](const std::string& why) {
    if (error != nullptr) *error = path + ": cannot open trace: " + why;
    return std::unique_ptr<TraceLog>();
  };
  if (path == "-") return std::unique_ptr<TraceLog>(new TraceLog(kStandardError, "-"));
  // A regular file (created private, or emptied) or a character device such as /dev/null.
  const FileRule rule{.access = O_WRONLY | O_CREAT,
                      .truncate = true,
                      .char_device_ok = true,
                      .create_mode = kTraceFileMode};
  std::string why;
  const int fd = open_file(path, rule, &why);
  if (fd < 0) return refuse(why);
  return std::unique_ptr<TraceLog>(new TraceLog(fd, path));
}

TraceLog::TraceLog(int fd, std::string path) : fd_(fd), path_(std::move(path)) {}

TraceLog::~TraceLog() {
  if (fd_ != kStandardError) ::close(fd_);
}

// Lines are built by appending: GCC 12 at -O3 warns falsely (-Wrestrict) on "literal" + string.
void TraceLog::transfer(int channel, uint8_t address, std::span<const uint8_t> tx,
                        std::span<const uint8_t> rx, bool ok) {
  const bool is_read = !rx.empty();
  std::string line = "{\"seq\":";
  line.append(std::to_string(++seq_))
      .append(is_read ? ",\"op\":\"read\"" : ",\"op\":\"write\"")
      .append(",\"channel\":")
      .append(std::to_string(channel))
      .append(",\"address\":\"")
      .append(hex_byte(address))
      .append("\",\"reg\":");
  if (tx.empty()) {
    line.append("null");
  } else {
    line.append("\"").append(hex_byte(tx[0])).append("\"");
  }
  // A failed read has read nothing; a failed write still shows what it tried to write.
  std::span<const uint8_t> bytes =
      is_read ? (ok ? rx : std::span<const uint8_t>()) : (tx.empty() ? tx : tx.subspan(1));
  line.append(",\"bytes\":\"")
      .append(hex_pairs(bytes))
      .append(ok ? "\",\"result\":\"ok\"}" : "\",\"result\":\"nack\"}");
  write_line(std::move(line));
}

void TraceLog::speed(int channel, int speed, bool ok) {
  std::string line = "{\"seq\":";
  line.append(std::to_string(++seq_))
      .append(",\"op\":\"speed\",\"channel\":")
      .append(std::to_string(channel))
      .append(",\"speed\":")
      .append(std::to_string(speed))
      .append(ok ? ",\"result\":\"ok\"}" : ",\"result\":\"nack\"}");
  write_line(std::move(line));
}

void TraceLog::write_line(std::string line) {
  if (failed_) return;
  line.push_back('\n');
  std::string_view rest = line;
  int err = 0;
  // Standard error may be a blocking pipe: wait for it within the bound, never longer.
  if (fd_ == kStandardError && !writable_within_bound(fd_)) err = EAGAIN;
  while (err == 0 && !rest.empty()) {
    const ssize_t n = ::write(fd_, rest.data(), rest.size());
    if (n > 0) {
      rest.remove_prefix(static_cast<size_t>(n));
    } else if (n < 0 && errno == EINTR) {
      continue;
    } else if (n < 0 && errno == EAGAIN && writable_within_bound(fd_)) {
      continue;
    } else {
      err = n < 0 ? errno : EIO;
    }
  }
  if (err == 0) return;
  failed_ = true;
  const std::string report = std::string(program_invocation_short_name) + ": trace " + path_ +
                             ": write failed: " + std::strerror(err) + "; no further trace lines\n";
  if (::write(kStandardError, report.data(), report.size()) < 0) {
    // Nothing more can be done when standard error itself fails.
  }
}

// The trace line says only whether the transaction was done: a NACK and a failure are both
// traced "nack", as they always were, and the caller still gets which one it was.
I2cResult TracingBus::transfer(uint8_t addr7, std::span<const uint8_t> tx, std::span<uint8_t> rx) {
  const I2cResult result = inner_.transfer(addr7, tx, rx);
  log_.transfer(channel_, static_cast<uint8_t>(addr7 << 1), tx, rx, result == I2cResult::ok);
  return result;
}

}  // namespace demodctl
