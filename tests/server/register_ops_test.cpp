// The I2C transactions regserver makes for each request, on a recording bus.
#include "server/register_ops.h"

#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <vector>

#include "support/recording_backends.h"

namespace demodctl::testing {
namespace {

// Logs "addr7: tx -> rx_len" per transaction; answers reads with 0xA0, 0xA1, ...
class RecordingBus : public I2cBus, public BusBackend {
 public:
  std::vector<std::string> log;
  bool transfer(uint8_t addr7, std::span<const uint8_t> tx, std::span<uint8_t> rx) override {
    log.push_back(hex(&addr7, 1) + ": " + hex(tx.data(), static_cast<int>(tx.size())) + " -> " +
                  std::to_string(rx.size()));
    for (size_t i = 0; i < rx.size(); ++i) rx[i] = static_cast<uint8_t>(0xA0 + i);
    return addr7 == 0x68;  // only the demodulator acknowledges
  }
  I2cBus* channel(int32_t n) override { return n == 0 ? this : nullptr; }
  bool set_speed(int32_t, int32_t) override { return true; }
};

TEST(RegisterOps, ExactTransactions) {
  struct Case {
    wire::RegTarget target;
    std::vector<uint8_t> write;  // empty: a read of 2 bytes
    wire::Status status;
    std::string bus;
  } cases[] = {
      {{0, 0xD0, 0x6C, 1}, {}, wire::Status::kOk, "68: 6C -> 2"},
      {{0, 0xD1, 0x2C, 1}, {}, wire::Status::kOk, "68: 2C -> 2"},  // R/W bit dropped
      {{0, 0xD0, 0x1234, 2}, {}, wire::Status::kOk, "68: 12 34 -> 2"},
      {{0, 0xD0, 0x33, 1}, {1, 2, 3}, wire::Status::kOk, "68: 33 01 02 03 -> 0"},
      {{0, 0xD0, 0x0102, 2}, {9}, wire::Status::kOk, "68: 01 02 09 -> 0"},
      {{0, 0xC0, 0x00, 1}, {}, wire::Status::kNack, "60: 00 -> 2"},
  };
  for (const auto& c : cases) {
    RecordingBus bus;
    std::vector<uint8_t> out(2);
    const wire::Status s = c.write.empty() ? read_registers(bus, c.target, out)
                                           : write_registers(bus, c.target, c.write);
    EXPECT_EQ(s, c.status) << c.bus;
    EXPECT_EQ(bus.log, std::vector<std::string>{c.bus});
  }
}

TEST(RegisterOps, PeriodReadYieldsAfterBurstOrBudget) {
  wire::Request q;
  q.op = wire::Opcode::kReadPeriod;
  q.target = {0, 0xD0, 0xEF, 1};
  q.item_len = 1;
  q.total = 5;
  // {burst, budget per call} -> reads per call
  for (const auto& [burst, budget, reads] : std::vector<std::tuple<int, size_t, std::string>>{
           {2, 16, "2 2 1 "}, {65535, 2, "2 2 1 "}, {3, 16, "3 2 "}}) {
    RecordingBus bus;
    q.burst = static_cast<uint16_t>(burst);
    PeriodRead read(q);
    std::string seen;
    for (bool done = false; !done && seen.size() < 20;) {
      size_t left = budget;
      done = read.run(bus, left).has_value();
      seen += std::to_string(budget - left) + " ";
    }
    EXPECT_EQ(seen, reads) << burst;
    EXPECT_EQ(bus.log, std::vector<std::string>(5, "68: EF -> 1"));
  }
}

}  // namespace
}  // namespace demodctl::testing
