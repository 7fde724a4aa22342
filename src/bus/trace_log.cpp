// Stand-in trace (to be replaced): one minimal JSON line per operation.
#include "bus/trace_log.h"

#include <cstdio>

namespace demodctl {

std::unique_ptr<TraceLog> TraceLog::create(const std::string& path, std::string* error) {
  std::FILE* f = std::fopen(path.c_str(), "w");
  if (f == nullptr) {
    *error = path + ": cannot be created";
    return nullptr;
  }
  return std::unique_ptr<TraceLog>(new TraceLog(f));
}

TraceLog::TraceLog(std::FILE* file) : file_(file) {}
TraceLog::~TraceLog() { std::fclose(file_); }

void TraceLog::write_line(const std::string& line) {
  std::fputs(line.c_str(), file_);
  std::fputc('\n', file_);
  std::fflush(file_);
}

void TraceLog::transfer(int channel, uint8_t address, std::span<const uint8_t>,
                        std::span<const uint8_t> rx, bool ok) {
  write_line("{\"seq\":" + std::to_string(++seq_) + ",\"op\":\"" + (rx.empty() ? "write" : "read") +
             "\",\"channel\":" + std::to_string(channel) + ",\"address\":" +
             std::to_string(address) + ",\"result\":\"" + (ok ? "ok" : "nack") + "\"}");
}

void TraceLog::speed(int channel, int speed, bool ok) {
  write_line("{\"seq\":" + std::to_string(++seq_) + ",\"op\":\"speed\",\"channel\":" +
             std::to_string(channel) + ",\"speed\":" + std::to_string(speed) + ",\"result\":\"" +
             (ok ? "ok" : "nack") + "\"}");
}

bool TracingBus::transfer(uint8_t addr7, std::span<const uint8_t> tx, std::span<uint8_t> rx) {
  const bool ok = inner_.transfer(addr7, tx, rx);
  log_.transfer(channel_, static_cast<uint8_t>(addr7 << 1), tx, rx, ok);
  return ok;
}

}  // namespace demodctl
