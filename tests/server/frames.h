// Request frames built field by field, independently of the encoder under test.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <vector>

namespace demodctl::test {

using Bytes = std::vector<uint8_t>;

struct Field {
  int64_t value;
  int width;  // bytes, big-endian
};

// length, opcode, status, seq, then the fields.
inline Bytes frame(uint8_t op, uint16_t seq, std::initializer_list<Field> fields,
                   const Bytes& tail = {}, uint8_t status = 0) {
  Bytes b{0, 0, op, status, static_cast<uint8_t>(seq >> 8), static_cast<uint8_t>(seq)};
  for (const Field& f : fields) {
    for (int i = f.width - 1; i >= 0; --i) b.push_back(static_cast<uint8_t>(f.value >> (8 * i)));
  }
  b.insert(b.end(), tail.begin(), tail.end());
  b[0] = static_cast<uint8_t>((b.size() - 2) >> 8);
  b[1] = static_cast<uint8_t>(b.size() - 2);
  return b;
}

inline Bytes hello(uint16_t version = 1) {
  return frame(0x01, 0, {{0x444D5253, 4}, {version, 2}});  // "DMRS"
}
inline Bytes read(uint16_t seq, int32_t ch, int32_t addr, int reg, int reg_len, int count) {
  return frame(0x03, seq, {{ch, 4}, {addr, 4}, {reg, 2}, {reg_len, 1}, {count, 2}});
}
inline Bytes write(uint16_t seq, int32_t ch, int32_t addr, int reg, int count, const Bytes& data) {
  return frame(0x04, seq, {{ch, 4}, {addr, 4}, {reg, 2}, {1, 1}, {count, 2}}, data);
}
inline Bytes period(uint16_t seq, int reg_len, int item_len, int64_t total, int burst) {
  return frame(0x05, seq,
               {{0, 4}, {0xD0, 4}, {0xEF, 2}, {reg_len, 1}, {item_len, 2}, {total, 4}, {burst, 2}});
}

}  // namespace demodctl::test
