#include "protocol/wire.h"

#include <algorithm>

namespace demodctl::wire {
namespace {

constexpr size_t kOpcodeOffset = 2;  // from the start of the frame (after the length field)
constexpr size_t kStatusOffset = 3;
constexpr size_t kSeqOffset = 4;
constexpr size_t kBodyOffset = kLengthFieldSize + kHeaderSize;
constexpr int32_t kMaxBusAddress = 0xFF;
constexpr uint16_t kMaxOneByteReg = 0xFF;

int32_t get_i32(const uint8_t* p) { return static_cast<int32_t>(get_u32(p)); }

DecodeResult error(DecodeResult r, Status status, std::string_view reason, bool close = false) {
  r.outcome = DecodeOutcome::kError;
  r.status = status;
  r.reason = reason;
  r.close = close;
  return r;
}

DecodeResult framing_lost(Status status, std::string_view reason) {
  return error(DecodeResult{}, status, reason, true);
}

// Reads channel, address, reg, reg_len (the first 11 body bytes) and checks them.
std::optional<DecodeResult> decode_target(DecodeResult& r, const uint8_t* body) {
  RegTarget& t = r.request.target;
  t.channel = get_i32(body);
  t.address = get_i32(body + 4);
  t.reg = get_u16(body + 8);
  t.reg_len = body[10];
  if (t.address < 0 || t.address > kMaxBusAddress) {
    return error(r, Status::kBadAddress, "bus address outside 0..255");
  }
  if (t.reg_len != 1 && t.reg_len != 2)
    return error(r, Status::kBadParam, "reg_len must be 1 or 2");
  if (t.reg_len == 1 && t.reg > kMaxOneByteReg) {
    return error(r, Status::kBadParam, "register does not fit one byte");
  }
  return std::nullopt;
}

DecodeResult decode_body(DecodeResult r, std::span<const uint8_t> body) {
  Request& q = r.request;
  switch (static_cast<Opcode>(r.opcode)) {
    case Opcode::kHello:
      if (body.size() != kHelloBodySize) return error(r, Status::kBadFrame, "HELLO body size");
      if (!std::equal(std::begin(kMagic), std::end(kMagic), body.begin())) {
        return error(r, Status::kBadFrame, "bad magic", true);
      }
      q.version = get_u16(body.data() + sizeof kMagic);
      break;
    case Opcode::kSetSpeed:
      if (body.size() != kSetSpeedBodySize)
        return error(r, Status::kBadFrame, "SET_SPEED body size");
      q.channel = get_i32(body.data());
      q.speed = get_i32(body.data() + 4);
      break;
    case Opcode::kRead:
      if (body.size() != kReadBodySize) return error(r, Status::kBadFrame, "READ body size");
      if (auto e = decode_target(r, body.data())) return *e;
      q.count = get_u16(body.data() + 11);
      if (q.count == 0) return error(r, Status::kBadParam, "count must not be 0");
      if (q.count > kMaxReadCount) return error(r, Status::kTooLarge, "count over the limit");
      break;
    case Opcode::kWrite: {
      if (body.size() < kWriteHeadSize) return error(r, Status::kBadFrame, "WRITE body size");
      q.count = get_u16(body.data() + 11);
      if (q.count > kMaxWriteCount) return error(r, Status::kTooLarge, "count over the limit");
      if (body.size() != kWriteHeadSize + q.count) {
        return error(r, Status::kBadFrame, "WRITE data length differs from count");
      }
      if (auto e = decode_target(r, body.data())) return *e;
      const auto data = body.subspan(kWriteHeadSize);
      q.data.assign(data.begin(), data.end());
      break;
    }
    case Opcode::kReadPeriod:
      if (body.size() != kReadPeriodBodySize) {
        return error(r, Status::kBadFrame, "READ_PERIOD body size");
      }
      if (auto e = decode_target(r, body.data())) return *e;
      q.item_len = get_u16(body.data() + 11);
      q.total = get_u32(body.data() + 13);
      q.burst = get_u16(body.data() + 17);
      if (q.item_len == 0) return error(r, Status::kBadParam, "item_len must not be 0");
      if (q.item_len > kMaxItemLen) return error(r, Status::kTooLarge, "item_len over the limit");
      if (q.total > kMaxPeriodTotal) return error(r, Status::kTooLarge, "total over the limit");
      if (q.total == 0 || q.total % q.item_len != 0) {
        return error(r, Status::kBadParam, "total must be a nonzero multiple of item_len");
      }
      if (q.burst == 0) return error(r, Status::kBadParam, "burst must not be 0");
      break;
    default:
      return error(r, Status::kUnknownOp, "unknown opcode");
  }
  q.op = static_cast<Opcode>(r.opcode);
  q.seq = r.seq;
  r.outcome = DecodeOutcome::kRequest;
  return r;
}

}  // namespace

std::string_view status_name(Status status) {
  switch (status) {
    case Status::kOk:
      return "OK";
    case Status::kNack:
      return "NACK";
    case Status::kBadFrame:
      return "BAD_FRAME";
    case Status::kUnknownOp:
      return "UNKNOWN_OP";
    case Status::kBadVersion:
      return "BAD_VERSION";
    case Status::kNeedHello:
      return "NEED_HELLO";
    case Status::kNoChannel:
      return "NO_CHANNEL";
    case Status::kBadAddress:
      return "BAD_ADDRESS";
    case Status::kTooLarge:
      return "TOO_LARGE";
    case Status::kBusy:
      return "BUSY";
    case Status::kIoError:
      return "IO_ERROR";
    case Status::kBadParam:
      return "BAD_PARAM";
    case Status::kNotAllowed:
      return "NOT_ALLOWED";
    case Status::kReadOnly:
      return "READ_ONLY";
  }
  return "UNKNOWN_STATUS";
}

DecodeResult decode_request(std::span<const uint8_t> bytes) {
  if (bytes.size() < kLengthFieldSize) return {};
  const uint16_t length = get_u16(bytes.data());
  if (length < kHeaderSize) return framing_lost(Status::kBadFrame, "frame shorter than its header");
  if (length > kMaxRequestLength) return framing_lost(Status::kTooLarge, "frame over the limit");
  const size_t frame_size = kLengthFieldSize + length;
  if (bytes.size() < frame_size) return {};

  DecodeResult r;
  r.consumed = frame_size;
  r.opcode = bytes[kOpcodeOffset];
  r.seq = get_u16(bytes.data() + kSeqOffset);
  if (bytes[kStatusOffset] != 0)
    return error(r, Status::kBadFrame, "status byte of a request not 0");
  return decode_body(r, bytes.subspan(kBodyOffset, frame_size - kBodyOffset));
}

Status admit_request(const Request& request, bool greeted) {
  if (request.op == Opcode::kHello) {
    return request.version == kVersion ? Status::kOk : Status::kBadVersion;
  }
  return greeted ? Status::kOk : Status::kNeedHello;
}

void put_u16(std::vector<uint8_t>& out, uint16_t v) {
  out.push_back(static_cast<uint8_t>(v >> 8));
  out.push_back(static_cast<uint8_t>(v));
}

void put_u32(std::vector<uint8_t>& out, uint32_t v) {
  put_u16(out, static_cast<uint16_t>(v >> 16));
  put_u16(out, static_cast<uint16_t>(v));
}

uint16_t get_u16(const uint8_t* p) { return static_cast<uint16_t>((p[0] << 8) | p[1]); }

uint32_t get_u32(const uint8_t* p) {
  return (static_cast<uint32_t>(get_u16(p)) << 16) | get_u16(p + 2);
}

namespace {

std::vector<uint8_t> frame_start(uint8_t opcode, uint8_t status, uint16_t seq, size_t body_size) {
  std::vector<uint8_t> out;
  out.reserve(kLengthFieldSize + kHeaderSize + body_size);
  put_u16(out, static_cast<uint16_t>(kHeaderSize + body_size));
  out.push_back(opcode);
  out.push_back(status);
  put_u16(out, seq);
  return out;
}

void put_target(std::vector<uint8_t>& out, const RegTarget& t) {
  put_u32(out, static_cast<uint32_t>(t.channel));
  put_u32(out, static_cast<uint32_t>(t.address));
  put_u16(out, t.reg);
  out.push_back(t.reg_len);
}

}  // namespace

std::vector<uint8_t> encode_request(const Request& q) {
  std::vector<uint8_t> body;
  switch (q.op) {
    case Opcode::kHello:
      body.assign(std::begin(kMagic), std::end(kMagic));
      put_u16(body, q.version);
      break;
    case Opcode::kSetSpeed:
      put_u32(body, static_cast<uint32_t>(q.channel));
      put_u32(body, static_cast<uint32_t>(q.speed));
      break;
    case Opcode::kRead:
      put_target(body, q.target);
      put_u16(body, q.count);
      break;
    case Opcode::kWrite:
      put_target(body, q.target);
      put_u16(body, q.count);
      body.insert(body.end(), q.data.begin(), q.data.end());
      break;
    case Opcode::kReadPeriod:
      put_target(body, q.target);
      put_u16(body, q.item_len);
      put_u32(body, q.total);
      put_u16(body, q.burst);
      break;
  }
  std::vector<uint8_t> out = frame_start(static_cast<uint8_t>(q.op), 0, q.seq, body.size());
  out.insert(out.end(), body.begin(), body.end());
  return out;
}

std::vector<uint8_t> encode_reply(uint8_t opcode, Status status, uint16_t seq,
                                  std::span<const uint8_t> body) {
  std::vector<uint8_t> out = frame_start(static_cast<uint8_t>(opcode | kReplyFlag),
                                         static_cast<uint8_t>(status), seq, body.size());
  out.insert(out.end(), body.begin(), body.end());
  return out;
}

std::vector<uint8_t> encode_error_reply(uint8_t opcode, Status status, uint16_t seq,
                                        std::string_view reason) {
  reason = reason.substr(0, kMaxReasonLength);
  const auto* text = reinterpret_cast<const uint8_t*>(reason.data());
  return encode_reply(opcode, status, seq, std::span<const uint8_t>(text, reason.size()));
}

std::vector<uint8_t> hello_reply_body() {
  std::vector<uint8_t> body(std::begin(kMagic), std::end(kMagic));
  put_u16(body, kVersion);
  put_u16(body, static_cast<uint16_t>(kMaxRequestLength));
  put_u16(body, kMaxReadCount);
  put_u16(body, kMaxWriteCount);
  put_u32(body, kMaxPeriodTotal);
  put_u16(body, kMaxItemLen);
  return body;
}

std::optional<Reply> decode_reply(std::span<const uint8_t> frame) {
  if (frame.size() < kLengthFieldSize + kHeaderSize) return std::nullopt;
  if (get_u16(frame.data()) != frame.size() - kLengthFieldSize) return std::nullopt;
  if ((frame[kOpcodeOffset] & kReplyFlag) == 0) return std::nullopt;
  Reply r;
  r.opcode = frame[kOpcodeOffset];
  r.status = static_cast<Status>(frame[kStatusOffset]);
  r.seq = get_u16(frame.data() + kSeqOffset);
  r.body = frame.subspan(kBodyOffset);
  return r;
}

}  // namespace demodctl::wire
