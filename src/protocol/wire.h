// regserver's binary request/reply protocol (docs/protocol.md describes it byte by byte).
//
// Every frame: u16 length (big-endian, the number of bytes that follow it), u8 opcode (a reply
// carries the request's opcode | 0x80), u8 status (0 in requests), u16 seq (echoed in the reply),
// then the body. All integers are big-endian.
//
// The decoder is a pure function of the bytes received so far; the encoders build whole frames.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

namespace demodctl::wire {

constexpr uint16_t kVersion = 1;
constexpr uint8_t kMagic[4] = {'D', 'M', 'R', 'S'};

// Frame layout.
constexpr size_t kLengthFieldSize = 2;
constexpr size_t kHeaderSize = 4;  // opcode, status, seq (counted in the length field)
constexpr uint8_t kReplyFlag = 0x80;

// Limits, all checked before anything is allocated.
constexpr size_t kMaxRequestLength = 512;  // largest length field a request may carry
constexpr uint16_t kMaxReadCount = 256;
constexpr uint16_t kMaxWriteCount = 256;
constexpr uint16_t kMaxItemLen = 16;
// The reply carries all `total` bytes in one frame, so total + header must fit the length field.
constexpr uint32_t kMaxPeriodTotal = 0xFFFF - kHeaderSize;
constexpr size_t kMaxReasonLength = 120;  // text body of an error reply

enum class Opcode : uint8_t {
  kHello = 0x01,
  kSetSpeed = 0x02,
  kRead = 0x03,
  kWrite = 0x04,
  kReadPeriod = 0x05,
};

enum class Status : uint8_t {
  kOk = 0,
  kNack = 1,      // the device did not acknowledge / the transfer failed
  kBadFrame = 2,  // body length does not fit the opcode, or framing lost
  kUnknownOp = 3,
  kBadVersion = 4,
  kNeedHello = 5,  // request before a successful HELLO
  kNoChannel = 6,
  kBadAddress = 7,   // bus address outside 0..255
  kTooLarge = 8,     // a length, count or total over its limit
  kBusy = 9,         // connection cap reached
  kIoError = 10,     // the channel exists but the adapter operation failed
  kBadParam = 11,    // reg_len not 1|2, register too wide, zero count, total not a multiple, ...
  kNotAllowed = 12,  // the peer's address is not admitted by the server
  kReadOnly = 13,    // WRITE on a read-only server
};

std::string_view status_name(Status status);

// Body sizes of the fixed-size requests (bytes after the 4-byte header).
constexpr size_t kHelloBodySize = 6;     // magic, u16 version
constexpr size_t kSetSpeedBodySize = 8;  // i32 channel, i32 speed
constexpr size_t kReadBodySize = 13;     // i32 channel, i32 address, u16 reg, u8 reg_len, u16 count
constexpr size_t kWriteHeadSize = 13;    // as READ, then `count` data bytes
constexpr size_t kReadPeriodBodySize = 19;  // ..., u8 reg_len, u16 item_len, u32 total, u16 burst
constexpr size_t kHelloReplyBodySize = 18;  // magic, version, max_request, max_read, max_write,
                                            // u32 max_period_total, u16 max_item_len

// Where a request addresses a device register.
struct RegTarget {
  int32_t channel = 0;
  int32_t address = 0;  // the 8-bit bus address byte, 0..255 after decoding
  uint16_t reg = 0;
  uint8_t reg_len = 1;  // 1 or 2; a 2-byte register address goes on the bus big-endian
};

struct Request {
  Opcode op = Opcode::kHello;
  uint16_t seq = 0;
  uint16_t version = 0;       // HELLO
  int32_t channel = 0;        // SET_SPEED
  int32_t speed = 0;          // SET_SPEED
  RegTarget target;           // READ, WRITE, READ_PERIOD
  uint16_t count = 0;         // READ, WRITE
  std::vector<uint8_t> data;  // WRITE
  uint16_t item_len = 0;      // READ_PERIOD
  uint32_t total = 0;         // READ_PERIOD
  uint16_t burst = 0;         // READ_PERIOD
};

enum class DecodeOutcome {
  kNeedMore,  // no complete frame yet
  kRequest,   // `request` is valid; `consumed` bytes make up its frame
  kError,     // reply with `status`; when `close` the framing is lost and the connection ends,
              // otherwise `consumed` bytes are skipped and decoding goes on
};

struct DecodeResult {
  DecodeOutcome outcome = DecodeOutcome::kNeedMore;
  size_t consumed = 0;
  Request request;
  Status status = Status::kOk;
  bool close = false;
  uint8_t opcode = 0;  // of the offending frame (0 when framing is lost), for the error reply
  uint16_t seq = 0;
  std::string_view reason;  // static text for the error reply
};

// Decodes the first frame of `bytes`. Never allocates more than the limits allow.
DecodeResult decode_request(std::span<const uint8_t> bytes);

// Status a connection gives a decoded request before it is performed: NEED_HELLO for anything but
// HELLO before a successful HELLO, BAD_VERSION for a HELLO of another version, else OK.
Status admit_request(const Request& request, bool greeted);

// --- Encoders -------------------------------------------------------------------------------

std::vector<uint8_t> encode_request(const Request& request);
// A reply frame; `body` must not exceed 0xFFFF - kHeaderSize bytes.
std::vector<uint8_t> encode_reply(uint8_t opcode, Status status, uint16_t seq,
                                  std::span<const uint8_t> body);
std::vector<uint8_t> encode_error_reply(uint8_t opcode, Status status, uint16_t seq,
                                        std::string_view reason);
std::vector<uint8_t> hello_reply_body();

// --- Reply decoding (client side) -------------------------------------------------------------

struct Reply {
  uint8_t opcode = 0;  // with the reply flag
  Status status = Status::kOk;
  uint16_t seq = 0;
  std::span<const uint8_t> body;  // view into the bytes given
};

// Decodes one complete reply frame (`frame` holds the length field and exactly the bytes it
// announces); nothing when it is malformed.
std::optional<Reply> decode_reply(std::span<const uint8_t> frame);

// Big-endian helpers shared by the encoders and the client.
void put_u16(std::vector<uint8_t>& out, uint16_t v);
void put_u32(std::vector<uint8_t>& out, uint32_t v);
uint16_t get_u16(const uint8_t* p);
uint32_t get_u32(const uint8_t* p);

}  // namespace demodctl::wire
