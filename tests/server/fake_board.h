// Test double of a bus with one 256-register device, and a backend serving it on chosen channels.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <span>
#include <vector>

#include "bus/i2c_bus.h"
#include "server/bus_backend.h"

namespace demodctl::test {

struct Transaction {
  uint8_t addr7;
  std::vector<uint8_t> tx;
  size_t rx_len;
  bool operator==(const Transaction&) const = default;
};

class FakeDevice : public I2cBus {
 public:
  static constexpr uint8_t kAddr7 = 0x68;  // 8-bit 0xD0
  FakeDevice() {
    regs[0x6E] = 0x36;  // identity bytes 2, 3
    regs[0x6F] = 0x31;
  }
  bool transfer(uint8_t addr7, std::span<const uint8_t> tx, std::span<uint8_t> rx) override {
    log.push_back({addr7, {tx.begin(), tx.end()}, rx.size()});
    ++ops;
    if (on_transfer) on_transfer(ops);
    if (ops == drop_at_op) {
      drop_pending = true;
      return false;
    }
    if (addr7 != kAddr7) return false;
    if (!tx.empty()) {
      pointer = tx[0];
      for (size_t i = 1; i < tx.size(); ++i) regs[pointer++] = tx[i];
    }
    for (auto& b : rx) b = fifo_port && pointer == *fifo_port ? fifo_next++ : regs[pointer++];
    return true;
  }

  std::array<uint8_t, 256> regs{};
  uint8_t pointer = 0;
  std::vector<Transaction> log;
  int ops = 0;
  int drop_at_op = 0;  // 0: never
  bool drop_pending = false;
  std::function<void(int op)> on_transfer;  // called at the start of every transaction
  std::optional<uint8_t> fifo_port;         // a register whose reads count up and do not advance
  uint8_t fifo_next = 0;
};

class FakeBackend : public BusBackend {
 public:
  I2cBus* channel(int32_t n) override {
    for (int c : channels)
      if (c == n) return &device;
    return nullptr;
  }
  bool set_speed(int32_t ch, int32_t speed) override {
    speeds[ch] = speed;
    return accept_speed;
  }
  bool take_drop_request() override {
    const bool d = device.drop_pending;
    device.drop_pending = false;
    return d;
  }

  FakeDevice device;
  std::vector<int> channels{0};
  std::map<int32_t, int32_t> speeds;
  bool accept_speed = true;
};

}  // namespace demodctl::test
