// Request frames built byte by byte (independently of the encoder) for the server tests.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <vector>

namespace demodctl::test {

using Bytes = std::vector<uint8_t>;

inline void be16(Bytes& b, uint32_t v) {
  b.push_back(static_cast<uint8_t>(v >> 8));
  b.push_back(static_cast<uint8_t>(v));
}
inline void be32(Bytes& b, uint32_t v) {
  be16(b, v >> 16);
  be16(b, v & 0xFFFF);
}

// length, opcode, status, seq, body
inline Bytes frame(uint8_t op, uint16_t seq, const Bytes& body, uint8_t status = 0) {
  Bytes b;
  be16(b, static_cast<uint32_t>(4 + body.size()));
  b.push_back(op);
  b.push_back(status);
  be16(b, seq);
  b.insert(b.end(), body.begin(), body.end());
  return b;
}

inline Bytes hello_frame(uint16_t version = 1, uint16_t seq = 0) {
  Bytes body{'D', 'M', 'R', 'S'};
  be16(body, version);
  return frame(0x01, seq, body);
}

inline Bytes target(int32_t ch, int32_t addr, uint16_t reg, uint8_t reg_len) {
  Bytes b;
  be32(b, static_cast<uint32_t>(ch));
  be32(b, static_cast<uint32_t>(addr));
  be16(b, reg);
  b.push_back(reg_len);
  return b;
}

inline Bytes read_frame(uint16_t seq, int32_t ch, int32_t addr, uint16_t reg, uint8_t reg_len,
                        uint16_t count) {
  Bytes body = target(ch, addr, reg, reg_len);
  be16(body, count);
  return frame(0x03, seq, body);
}

inline Bytes write_frame(uint16_t seq, int32_t ch, int32_t addr, uint16_t reg, uint8_t reg_len,
                         uint16_t count, const Bytes& data) {
  Bytes body = target(ch, addr, reg, reg_len);
  be16(body, count);
  body.insert(body.end(), data.begin(), data.end());
  return frame(0x04, seq, body);
}

inline Bytes period_frame(uint16_t seq, int32_t ch, int32_t addr, uint16_t reg, uint8_t reg_len,
                          uint16_t item_len, uint32_t total, uint16_t burst) {
  Bytes body = target(ch, addr, reg, reg_len);
  be16(body, item_len);
  be32(body, total);
  be16(body, burst);
  return frame(0x05, seq, body);
}

inline Bytes speed_frame(uint16_t seq, int32_t ch, int32_t speed) {
  Bytes body;
  be32(body, static_cast<uint32_t>(ch));
  be32(body, static_cast<uint32_t>(speed));
  return frame(0x02, seq, body);
}

}  // namespace demodctl::test
