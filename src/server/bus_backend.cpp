#include "server/bus_backend.h"

#include <algorithm>

#include "i2c/trace_log.h"
#include "sim/sim_board.h"

namespace demodctl {

SimBackend::SimBackend(std::unique_ptr<SimBoard> board) : board_(std::move(board)) {}
SimBackend::~SimBackend() = default;

I2cBus* SimBackend::channel(int32_t n) {
  const auto& channels = board_->channels();
  return std::find(channels.begin(), channels.end(), n) != channels.end() ? board_.get() : nullptr;
}

bool SimBackend::set_speed(int32_t ch, int32_t speed) {
  if (channel(ch) == nullptr) return false;
  speeds_[ch] = speed;
  return true;
}

bool SimBackend::take_drop_request() { return board_->take_drop_request(); }

void SimBackend::settle() { board_->settle(); }

I2cDevBackend::I2cDevBackend(std::string dev_prefix, KernelI2c& kernel)
    : dev_prefix_(std::move(dev_prefix)), kernel_(kernel) {}

I2cBus* I2cDevBackend::channel(int32_t n) {
  if (n < 0) return nullptr;
  auto it = open_.find(n);
  if (it != open_.end()) return it->second.get();
  // A node that cannot be opened, or is not an I2C adapter, is tried again on the next request
  // (it may appear later).
  auto bus = I2cDevBus::open(dev_prefix_ + std::to_string(n), kernel_);
  if (!bus) return nullptr;
  return open_.emplace(n, std::move(*bus)).first->second.get();
}

bool I2cDevBackend::set_speed(int32_t ch, int32_t speed) {
  if (channel(ch) == nullptr) return false;
  speeds_[ch] = speed;
  return true;
}

TracingBackend::TracingBackend(BusBackend& inner, TraceLog& log) : inner_(inner), log_(log) {}
TracingBackend::~TracingBackend() = default;

I2cBus* TracingBackend::channel(int32_t n) {
  I2cBus* bus = inner_.channel(n);
  if (bus == nullptr) return nullptr;
  auto& slot = wrapped_[n];
  if (!slot) slot = std::make_unique<TracingBus>(*bus, log_, static_cast<int>(n));
  return slot.get();
}

bool TracingBackend::set_speed(int32_t ch, int32_t speed) {
  const bool ok = inner_.set_speed(ch, speed);
  log_.speed(static_cast<int>(ch), static_cast<int>(speed), ok);
  return ok;
}

}  // namespace demodctl
