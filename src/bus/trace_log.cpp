// Minimal JSON Lines trace: one flushed line per operation.
#include "bus/trace_log.h"

#include <cerrno>
#include <cstring>
#include <nlohmann/json.hpp>

namespace demodctl {
namespace {
std::string hex_byte(uint8_t value) {
  char text[8];
  std::snprintf(text, sizeof text, "0x%02X", value);
  return text;
}
std::string hex_bytes(std::span<const uint8_t> bytes) {
  std::string text;
  char pair[4];
  for (const uint8_t b : bytes) {
    std::snprintf(pair, sizeof pair, "%02X", b);
    if (!text.empty()) text += ' ';
    text += pair;
  }
  return text;
}
}  // namespace

std::unique_ptr<TraceLog> TraceLog::create(const std::string& path, std::string* error) {
  std::FILE* file = std::fopen(path.c_str(), "w");
  if (file == nullptr) {
    *error = std::strerror(errno);
    return nullptr;
  }
  return std::unique_ptr<TraceLog>(new TraceLog(file));
}

TraceLog::TraceLog(std::FILE* file) : file_(file) {}
TraceLog::~TraceLog() { std::fclose(file_); }

void TraceLog::transfer(int channel, uint8_t address, std::span<const uint8_t> tx,
                        std::span<const uint8_t> rx, bool ok) {
  nlohmann::ordered_json line = {{"seq", seq_++},
                                 {"op", rx.empty() ? "write" : "read"},
                                 {"channel", channel},
                                 {"address", hex_byte(address)}};
  line["reg"] =
      tx.empty() ? nlohmann::ordered_json(nullptr) : nlohmann::ordered_json(hex_byte(tx[0]));
  line["bytes"] = rx.empty() ? hex_bytes(tx.empty() ? tx : tx.subspan(1)) : hex_bytes(rx);
  line["result"] = ok ? "ok" : "nack";
  write_line(line.dump());
}

void TraceLog::speed(int channel, int speed_value, bool ok) {
  nlohmann::ordered_json line = {{"seq", seq_++},
                                 {"op", "speed"},
                                 {"channel", channel},
                                 {"speed", speed_value},
                                 {"result", ok ? "ok" : "nack"}};
  write_line(line.dump());
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
