// What regserver does for each decoded request: register reads and writes on a channel's bus,
// each one I2C transaction with the register address sent first (big-endian when 2 bytes wide).
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "i2c/i2c_bus.h"
#include "protocol/wire.h"
#include "server/bus_backend.h"

namespace demodctl {

// The 7-bit bus address of an 8-bit address byte (0xD0 -> 0x68).
constexpr uint8_t addr7_of(int32_t address) { return static_cast<uint8_t>((address >> 1) & 0x7F); }

// One transaction: write the register address, then read out.size() bytes.
wire::Status read_registers(I2cBus& bus, const wire::RegTarget& target, std::span<uint8_t> out);
// One transaction: the register address followed by the data.
wire::Status write_registers(I2cBus& bus, const wire::RegTarget& target,
                             std::span<const uint8_t> data);

// True for a request that could put a data byte on the bus, which a read-only server refuses:
// a WRITE, and a READ or READ_PERIOD with a two-byte register address, because a device with
// one-byte register addresses takes the second byte as data (register 0x2E01 writes 0x01 to
// 0x2E, the demodulator's reset register).
bool puts_data_on_bus(const wire::Request& request);

// The reply to send, or none when the connection is to be dropped without a reply.
struct RequestResult {
  std::vector<uint8_t> reply;
  bool drop = false;
  // A bus transfer or adapter operation that failed (NACK, IO_ERROR), or a request refused before
  // the bus was touched (READ_ONLY, NO_CHANNEL): the server logs either, as a refusal of the peer.
  bool bus_failed = false;
  bool refused = false;
};

// HELLO, SET_SPEED, READ and WRITE (READ_PERIOD goes through PeriodRead). With `read_only`, a
// request that puts_data_on_bus() gets READ_ONLY and no transfer.
RequestResult perform(BusBackend& backend, const wire::Request& request, bool read_only);

// READ_PERIOD: total/item_len reads of item_len bytes from the same register, performed a few
// at a time so the server can serve other clients in between.
class PeriodRead {
 public:
  PeriodRead(const wire::Request& request, bool read_only);
  // Up to min(burst, budget) reads, each taken from `budget`; the final outcome once all are done
  // or one failed, else nothing (the caller lets others in, then calls again). A request refused
  // as read-only ends at the first call, without a read.
  std::optional<RequestResult> run(BusBackend& backend, size_t& budget);
  const wire::Request& request() const { return request_; }

 private:
  wire::Request request_;
  std::vector<uint8_t> data_;
  size_t done_ = 0;  // bytes filled
  bool refused_;
};

}  // namespace demodctl
