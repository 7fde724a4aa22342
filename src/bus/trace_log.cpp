#include "bus/trace_log.h"

#include <cerrno>
#include <cstring>

namespace demodctl {
namespace {

constexpr char kHexDigits[] = "0123456789ABCDEF";
constexpr unsigned kNibbleBits = 4;
constexpr uint8_t kNibbleMask = 0x0F;

// "0xD0"
std::string hex_byte(uint8_t value) {
  return std::string("0x") + kHexDigits[value >> kNibbleBits] + kHexDigits[value & kNibbleMask];
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

}  // namespace

std::unique_ptr<TraceLog> TraceLog::create(const std::string& path, std::string* error) {
  std::FILE* file = std::fopen(path.c_str(), "w");
  if (file == nullptr) {
    if (error != nullptr) *error = path + ": cannot create trace: " + std::strerror(errno);
    return nullptr;
  }
  return std::unique_ptr<TraceLog>(new TraceLog(file));
}

TraceLog::TraceLog(std::FILE* file) : file_(file) {}

TraceLog::~TraceLog() { std::fclose(file_); }

void TraceLog::transfer(int channel, uint8_t address, std::span<const uint8_t> tx,
                        std::span<const uint8_t> rx, bool ok) {
  const bool is_read = !rx.empty();
  std::string line = "{\"seq\":" + std::to_string(++seq_) + ",\"op\":\"" +
                     (is_read ? "read" : "write") + "\",\"channel\":" + std::to_string(channel) +
                     ",\"address\":\"" + hex_byte(address) + "\",\"reg\":";
  // Appended piece by piece: GCC 12 at -O3 warns (-Wrestrict) on "\"" + std::string&&.
  if (tx.empty()) {
    line += "null";
  } else {
    line += '"';
    line += hex_byte(tx[0]);
    line += '"';
  }
  // A failed read has read nothing; a failed write still shows what it tried to write.
  std::span<const uint8_t> bytes =
      is_read ? (ok ? rx : std::span<const uint8_t>()) : (tx.empty() ? tx : tx.subspan(1));
  line += ",\"bytes\":\"" + hex_pairs(bytes) + "\",\"result\":\"" + (ok ? "ok" : "nack") + "\"}";
  write_line(line);
}

void TraceLog::speed(int channel, int speed, bool ok) {
  write_line("{\"seq\":" + std::to_string(++seq_) + ",\"op\":\"speed\",\"channel\":" +
             std::to_string(channel) + ",\"speed\":" + std::to_string(speed) + ",\"result\":\"" +
             (ok ? "ok" : "nack") + "\"}");
}

void TraceLog::write_line(const std::string& line) {
  std::fputs(line.c_str(), file_);
  std::fputc('\n', file_);
  std::fflush(file_);
}

bool TracingBus::transfer(uint8_t addr7, std::span<const uint8_t> tx, std::span<uint8_t> rx) {
  const bool ok = inner_.transfer(addr7, tx, rx);
  log_.transfer(channel_, static_cast<uint8_t>(addr7 << 1), tx, rx, ok);
  return ok;
}

}  // namespace demodctl
