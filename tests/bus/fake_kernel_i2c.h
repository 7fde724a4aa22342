// A fake of the kernel's i2c-dev calls that records every I2C_RDWR message.
#pragma once

#include <gtest/gtest.h>

#include <cerrno>
#include <ostream>
#include <string>
#include <vector>

#include "bus/i2c_dev_bus.h"

namespace demodctl::testing_support {

constexpr uint8_t kDemodAddr7 = 0xD0 >> 1;  // 0x68
constexpr int kFakeFd = 7;

struct Msg {
  uint16_t addr;
  uint16_t flags;
  std::vector<uint8_t> bytes;  // written bytes; empty for a read message
  uint16_t len;
  bool operator==(const Msg&) const = default;
};

inline void PrintTo(const Msg& m, std::ostream* os) {
  *os << "{addr=0x" << std::hex << m.addr << " flags=0x" << m.flags << std::dec << " len=" << m.len
      << " bytes=" << ::testing::PrintToString(m.bytes) << "}";
}

inline Msg write_msg(std::vector<uint8_t> bytes) {
  const auto len = static_cast<uint16_t>(bytes.size());
  return {kDemodAddr7, 0, std::move(bytes), len};
}
inline Msg read_msg(uint16_t len) { return {kDemodAddr7, I2C_M_RD, {}, len}; }

// Records every I2C_RDWR call; read messages are filled with 0xA0, 0xA1, ...
class FakeKernel : public KernelI2c {
 public:
  int open_result = kFakeFd;
  int rdwr_errno = 0;  // nonzero: the ioctl fails with this errno
  std::vector<std::string> opened;
  std::vector<int> closed;
  std::vector<int> rdwr_fds;
  std::vector<std::vector<Msg>> calls;

  int open_adapter(const char* path) override {
    opened.emplace_back(path);
    return open_result;
  }
  int rdwr(int fd, i2c_msg* msgs, uint32_t nmsgs) override {
    rdwr_fds.push_back(fd);
    std::vector<Msg>& call = calls.emplace_back();
    for (uint32_t i = 0; i < nmsgs; ++i) {
      const i2c_msg& m = msgs[i];
      Msg recorded{m.addr, m.flags, {}, m.len};
      if ((m.flags & I2C_M_RD) != 0) {
        for (uint16_t k = 0; k < m.len; ++k) m.buf[k] = static_cast<uint8_t>(0xA0 + k);
      } else {
        recorded.bytes.assign(m.buf, m.buf + m.len);
      }
      call.push_back(recorded);
    }
    if (rdwr_errno != 0) {
      errno = rdwr_errno;
      return -1;
    }
    return static_cast<int>(nmsgs);
  }
  void close_adapter(int fd) override { closed.push_back(fd); }
};

}  // namespace demodctl::testing_support
