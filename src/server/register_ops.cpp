#include "server/register_ops.h"

#include <algorithm>
#include <array>

namespace demodctl {
namespace {

using wire::Status;

constexpr size_t kMaxRegLen = 2;

// The register address as sent on the bus: one byte, or two bytes high first.
size_t put_reg(const wire::RegTarget& t, uint8_t* out) {
  if (t.reg_len == 2) {
    out[0] = static_cast<uint8_t>(t.reg >> 8);
    out[1] = static_cast<uint8_t>(t.reg);
    return 2;
  }
  out[0] = static_cast<uint8_t>(t.reg);
  return 1;
}

RequestResult reply(const wire::Request& q, Status status, std::span<const uint8_t> body = {}) {
  RequestResult out;
  out.reply = wire::encode_reply(static_cast<uint8_t>(q.op), status, q.seq, body);
  return out;
}

// A request refused before the bus was touched (failed() turns it into a failed transfer).
RequestResult error_reply(const wire::Request& q, Status status, std::string_view reason) {
  RequestResult out;
  out.reply = wire::encode_error_reply(static_cast<uint8_t>(q.op), status, q.seq, reason);
  out.refused = true;
  return out;
}

RequestResult dropped() {
  RequestResult out;
  out.drop = true;
  return out;
}

RequestResult no_channel(const wire::Request& q) {
  return error_reply(q, Status::kNoChannel, "no such channel");
}

RequestResult failed(const wire::Request& q, Status status, std::string_view reason) {
  RequestResult out = error_reply(q, status, reason);
  out.refused = false;
  out.bus_failed = true;
  return out;
}

RequestResult read_only_refusal(const wire::Request& q) {
  return error_reply(q, Status::kReadOnly, "server is read-only");
}

RequestResult transfer_reply(BusBackend& backend, const wire::Request& q, Status status,
                             std::span<const uint8_t> body) {
  if (backend.take_drop_request()) return dropped();
  if (status != Status::kOk) return failed(q, status, "device did not acknowledge");
  return reply(q, Status::kOk, body);
}

// The protocol has one status for a transfer not done, NACK, whether the device did not
// acknowledge or the adapter failed it.
Status status_of(const Result<void>& result) { return result ? Status::kOk : Status::kNack; }

}  // namespace

Status read_registers(I2cBus& bus, const wire::RegTarget& target, std::span<uint8_t> out) {
  std::array<uint8_t, kMaxRegLen> reg{};
  const size_t n = put_reg(target, reg.data());
  std::fill(out.begin(), out.end(), uint8_t{0});
  return status_of(
      bus.transfer(addr7_of(target.address), std::span<const uint8_t>(reg.data(), n), out));
}

Status write_registers(I2cBus& bus, const wire::RegTarget& target, std::span<const uint8_t> data) {
  std::vector<uint8_t> tx(kMaxRegLen + data.size());
  const size_t n = put_reg(target, tx.data());
  std::copy(data.begin(), data.end(), tx.begin() + static_cast<std::ptrdiff_t>(n));
  tx.resize(n + data.size());
  return status_of(bus.transfer(addr7_of(target.address), tx, {}));
}

bool puts_data_on_bus(const wire::Request& q) {
  switch (q.op) {
    case wire::Opcode::kWrite:
      return true;
    case wire::Opcode::kRead:
    case wire::Opcode::kReadPeriod:
      return q.target.reg_len > 1;
    case wire::Opcode::kHello:
    case wire::Opcode::kSetSpeed:
      break;
  }
  return false;
}

RequestResult perform(BusBackend& backend, const wire::Request& q, bool read_only) {
  if (read_only && puts_data_on_bus(q)) return read_only_refusal(q);
  switch (q.op) {
    case wire::Opcode::kHello:
      return reply(q, Status::kOk, wire::hello_reply_body());
    case wire::Opcode::kSetSpeed:
      if (backend.channel(q.channel) == nullptr) return no_channel(q);
      if (!backend.set_speed(q.channel, q.speed)) {
        return failed(q, Status::kIoError, "speed not accepted");
      }
      return reply(q, Status::kOk);
    case wire::Opcode::kRead: {
      I2cBus* bus = backend.channel(q.target.channel);
      if (bus == nullptr) return no_channel(q);
      std::vector<uint8_t> data(q.count);
      const Status st = read_registers(*bus, q.target, data);
      return transfer_reply(backend, q, st, data);
    }
    case wire::Opcode::kWrite: {
      I2cBus* bus = backend.channel(q.target.channel);
      if (bus == nullptr) return no_channel(q);
      const Status st = write_registers(*bus, q.target, q.data);
      return transfer_reply(backend, q, st, {});
    }
    case wire::Opcode::kReadPeriod:
      break;  // not a one-shot operation
  }
  return error_reply(q, Status::kUnknownOp, "unknown opcode");
}

PeriodRead::PeriodRead(const wire::Request& request, bool read_only)
    : request_(request), data_(request.total), refused_(read_only && puts_data_on_bus(request)) {}

std::optional<RequestResult> PeriodRead::run(BusBackend& backend, size_t& budget) {
  if (refused_) return read_only_refusal(request_);
  I2cBus* bus = backend.channel(request_.target.channel);
  if (bus == nullptr) return no_channel(request_);
  for (uint16_t i = 0; i < request_.burst && budget > 0 && done_ < data_.size(); ++i) {
    --budget;
    const std::span<uint8_t> item(data_.data() + done_, request_.item_len);
    const Status st = read_registers(*bus, request_.target, item);
    if (backend.take_drop_request()) return dropped();
    if (st != Status::kOk) return failed(request_, st, "device did not acknowledge");
    done_ += request_.item_len;
  }
  if (done_ < data_.size()) return std::nullopt;
  return reply(request_, Status::kOk, data_);
}

}  // namespace demodctl
