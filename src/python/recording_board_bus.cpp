#include "recording_board_bus.h"

#include <cstdio>

#include "i2c/trace_log.h"

namespace demodctl::python {
namespace {

// Bytes shown per line; a capture's 8192 reads are summed up by their count.
constexpr size_t kBytesShown = 8;

std::string bytes_text(std::span<const uint8_t> bytes) {
  std::string text;
  for (size_t i = 0; i < bytes.size() && i < kBytesShown; ++i) {
    char hex[4];
    std::snprintf(hex, sizeof hex, "%02X", bytes[i]);
    if (!text.empty()) text += ' ';
    text += hex;
  }
  if (bytes.size() > kBytesShown) text += " ... (" + std::to_string(bytes.size()) + " bytes)";
  return text;
}

}  // namespace

void RecordingBoardBus::note(const char* op, long address, uint8_t reg,
                             std::span<const uint8_t> bytes, const Result<void>& done) {
  std::string line = std::string(op) + " " + hex_text(address) + " register " + hex_text(reg);
  if (!bytes.empty()) line += ": " + bytes_text(bytes);
  line += done ? std::string(" OK") : " " + done.error().text();
  const std::lock_guard lock(mutex_);
  lines_.push_back(std::move(line));
  if (lines_.size() > kTraceLinesKept) lines_.pop_front();
}

std::vector<std::string> RecordingBoardBus::lines() const {
  const std::lock_guard lock(mutex_);
  return {lines_.begin(), lines_.end()};
}

Result<void> RecordingBoardBus::open_connection() { return inner_.open_connection(); }
void RecordingBoardBus::close_connection() { inner_.close_connection(); }
void RecordingBoardBus::set_speed(const I2cDevice& device) { inner_.set_speed(device); }

Result<void> RecordingBoardBus::demod_read_regs(uint8_t reg, std::span<uint8_t> out) {
  Result<void> done = inner_.demod_read_regs(reg, out);
  note("read", demod().address, reg,
       done ? std::span<const uint8_t>(out) : std::span<const uint8_t>{}, done);
  return done;
}

Result<void> RecordingBoardBus::demod_write_regs(uint8_t reg, std::span<const uint8_t> data) {
  Result<void> done = inner_.demod_write_regs(reg, data);
  note("write", demod().address, reg, data, done);
  return done;
}

Result<void> RecordingBoardBus::read_identity(uint8_t reg, Identity& id) {
  Result<void> done = inner_.read_identity(reg, id);
  note("read identity", demod().address, reg,
       done ? std::span<const uint8_t>(id) : std::span<const uint8_t>{}, done);
  return done;
}

Result<void> RecordingBoardBus::read_period(uint8_t reg, std::span<uint8_t> out) {
  Result<void> done = inner_.read_period(reg, out);
  note("read_period", demod().address, reg,
       done ? std::span<const uint8_t>(out) : std::span<const uint8_t>{}, done);
  return done;
}

Result<void> RecordingBoardBus::device_read_regs(const I2cDevice& device, uint8_t reg,
                                                 std::span<uint8_t> out) {
  Result<void> done = inner_.device_read_regs(device, reg, out);
  note("tuner read", device.address, reg,
       done ? std::span<const uint8_t>(out) : std::span<const uint8_t>{}, done);
  return done;
}

Result<void> RecordingBoardBus::device_write_regs(const I2cDevice& device, uint8_t reg,
                                                  std::span<const uint8_t> data) {
  Result<void> done = inner_.device_write_regs(device, reg, data);
  note("tuner write", device.address, reg, data, done);
  return done;
}

}  // namespace demodctl::python
