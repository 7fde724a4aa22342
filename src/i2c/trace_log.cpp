#include "i2c/trace_log.h"

#include <errno.h>  // program_invocation_short_name
#include <poll.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>

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
constexpr long long kMicrosecondsPerSecond = 1000000;
constexpr long long kNanosecondsPerMicrosecond = 1000;

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

std::string_view transport_name(TraceSource source) {
  switch (source) {
    case TraceSource::socket:
      return "socket";
    case TraceSource::usb:
      return "usb";
    case TraceSource::regserver:
      break;
  }
  return "regserver";
}

std::string_view i2c_status(const Result<void>& result) {
  if (result) return "OK";
  return result.error().kind == FaultKind::nack ? "NACK" : "FAILED";
}

// CLOCK_MONOTONIC in microseconds: one clock for every process of the machine, so the tool's
// trace and regserver's interleave by it.
long long monotonic_us() {
  timespec now{};
  ::clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<long long>(now.tv_sec) * kMicrosecondsPerSecond +
         now.tv_nsec / kNanosecondsPerMicrosecond;
}

bool writable_within_bound(int fd) {
  pollfd p{fd, POLLOUT, 0};
  return ::poll(&p, 1, kWriteBoundMs) > 0 && (p.revents & POLLOUT) != 0;
}

}  // namespace

std::string hex_text(long value) {
  const unsigned long magnitude =
      value < 0 ? 0UL - static_cast<unsigned long>(value) : static_cast<unsigned long>(value);
  std::string digits;
  for (unsigned long rest = magnitude; rest != 0 || digits.size() < 2; rest >>= kNibbleBits) {
    digits.insert(digits.begin(), kHexDigits[rest & kNibbleMask]);
  }
  return (value < 0 ? "-0x" : "0x") + digits;
}

Result<std::unique_ptr<TraceLog>> TraceLog::create(const std::string& path, TraceSource source) {
  if (path == "-") return std::unique_ptr<TraceLog>(new TraceLog(kStandardError, "-", source));
  // A regular file (created private, or emptied) or a character device such as /dev/null.
  const FileRule rule{.access = O_WRONLY | O_CREAT,
                      .truncate = true,
                      .char_device_ok = true,
                      .create_mode = kTraceFileMode};
  const Result<int> fd = open_file(path, rule);
  if (!fd) return Fault{FaultKind::file, path + ": cannot open trace: " + fd.error().cause};
  return std::unique_ptr<TraceLog>(new TraceLog(*fd, path, source));
}

TraceLog::TraceLog(int fd, std::string path, TraceSource source)
    : fd_(fd), path_(std::move(path)), source_(source) {}

TraceLog::~TraceLog() {
  if (dropped_ > 0) {
    const std::string report = std::string(program_invocation_short_name) + ": trace " + path_ +
                               ": lines dropped: " + std::to_string(dropped_) + "\n";
    if (::write(kStandardError, report.data(), report.size()) < 0) {
      // Nothing more can be done when standard error itself fails.
    }
  }
  if (fd_ != kStandardError) ::close(fd_);
}

// A line cut short by a full disk or the file size limit is cut off again, so that the file
// ends with the last whole line. Only a regular file can be; a device or a pipe keeps it.
void TraceLog::take_back(size_t written) {
  struct stat st {};
  if (written == 0 || ::fstat(fd_, &st) != 0 || !S_ISREG(st.st_mode)) return;
  const off_t end = ::lseek(fd_, 0, SEEK_CUR);
  const off_t line_start = end - static_cast<off_t>(written);
  if (end < 0 || line_start < 0 || ::ftruncate(fd_, line_start) != 0) return;
  ::lseek(fd_, line_start, SEEK_SET);
}

// Lines are built by appending: GCC 12 at -O3 warns falsely (-Wrestrict) on "literal" + string.
// The first fields are those of the I2C trace as it always was; the later ones were added after.
void TraceLog::operation(const TraceOp& op) {
  const bool is_read = op.read_len > 0;
  std::string line = "{\"seq\":";
  line.append(std::to_string(++seq_))
      .append(",\"op\":\"")
      .append(op.op)
      .append("\",\"channel\":")
      .append(std::to_string(op.channel))
      .append(",\"address\":\"")
      .append(hex_text(op.address))
      .append("\",\"reg\":");
  if (op.reg) {
    line.append("\"").append(hex_text(*op.reg)).append("\"");
  } else {
    line.append("null");
  }
  // A failed read has read nothing; a failed write still shows what it tried to write.
  const std::span<const uint8_t> bytes =
      is_read ? (op.ok ? op.read : op.read.first(0)) : op.written;
  line.append(",\"bytes\":\"")
      .append(hex_pairs(bytes))
      .append(op.ok ? "\",\"result\":\"ok\"" : "\",\"result\":\"nack\"")
      .append(",\"written\":")
      .append(std::to_string(op.written.size()))
      .append(",\"read\":")
      .append(std::to_string(op.read_len));
  append_tail(line, op.status);
  write_line(std::move(line));
}

void TraceLog::speed(int channel, int speed, bool ok, std::string_view status) {
  std::string line = "{\"seq\":";
  line.append(std::to_string(++seq_))
      .append(",\"op\":\"speed\",\"channel\":")
      .append(std::to_string(channel))
      .append(",\"speed\":")
      .append(std::to_string(speed))
      .append(ok ? ",\"result\":\"ok\"" : ",\"result\":\"nack\"");
  append_tail(line, !status.empty() ? status : (ok ? "OK" : "FAILED"));
  write_line(std::move(line));
}

void TraceLog::append_tail(std::string& line, std::string_view status) const {
  line.append(",\"status\":\"")
      .append(status)
      .append("\",\"transport\":\"")
      .append(transport_name(source_))
      .append("\",\"t_us\":")
      .append(std::to_string(monotonic_us()))
      .append("}");
}

void TraceLog::write_line(std::string line) {
  if (failed_) {
    ++dropped_;
    return;
  }
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
  ++dropped_;
  take_back(line.size() - rest.size());
  const std::string report = std::string(program_invocation_short_name) + ": trace " + path_ +
                             ": write failed: " + std::strerror(err) + "; no further trace lines\n";
  if (::write(kStandardError, report.data(), report.size()) < 0) {
    // Nothing more can be done when standard error itself fails.
  }
}

// "result" says only whether the transaction was done (a NACK and a failure are both "nack", as
// they always were); "status" tells them apart.
Result<void> TracingBus::transfer(uint8_t addr7, std::span<const uint8_t> tx,
                                  std::span<uint8_t> rx) {
  Result<void> result = inner_.transfer(addr7, tx, rx);
  TraceOp op{.op = rx.empty() ? "write" : "read",
             .channel = channel_,
             .address = static_cast<uint8_t>(addr7 << 1),
             .reg = tx.empty() ? std::nullopt : std::optional<long>(tx[0]),
             .written = tx.empty() ? tx : tx.subspan(1),
             .read = rx,
             .read_len = rx.size(),
             .ok = result.has_value(),
             .status = i2c_status(result)};
  log_.operation(op);
  return result;
}

}  // namespace demodctl
