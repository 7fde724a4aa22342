// The I2C_RDWR messages the i2c-dev bus hands to the kernel, byte for byte.
#include "bus/i2c_dev_bus.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <numeric>
#include <ostream>
#include <tuple>
#include <vector>

namespace demodctl {
namespace {

constexpr uint16_t kDemod7 = 0xD0 >> 1;  // 0x68

// One i2c_msg as the kernel got it: addr, flags, the bytes written (zeros for a read).
using Msg = std::tuple<uint16_t, uint16_t, std::vector<uint8_t>>;
Msg wr(std::vector<uint8_t> bytes) { return {kDemod7, uint16_t{0}, std::move(bytes)}; }
Msg rd(size_t len) { return {kDemod7, I2C_M_RD, std::vector<uint8_t>(len)}; }
using Calls = std::vector<std::vector<Msg>>;

// Records every I2C_RDWR call; read messages are filled with 0xA0, 0xA1, ...
struct FakeKernel : KernelI2c {
  int open_result = 7;  // the adapter's fd
  bool char_device = true;
  int funcs_result = 0;
  unsigned long functionality = I2C_FUNC_I2C | I2C_FUNC_SMBUS_EMUL;
  bool ioctl_fails = false;
  bool closed = false;
  Calls calls;
  int open_adapter(const char*) override { return open_result; }
  bool is_char_device(int) override { return char_device; }
  int funcs(int, unsigned long* f) override {
    *f = functionality;
    return funcs_result;
  }
  int rdwr(int, i2c_msg* msgs, uint32_t nmsgs) override {
    auto& call = calls.emplace_back();
    for (i2c_msg* m = msgs; m != msgs + nmsgs; ++m) {
      const bool read = (m->flags & I2C_M_RD) != 0;
      call.emplace_back(m->addr, m->flags,
                        std::vector<uint8_t>(m->buf, m->buf + (read ? 0 : m->len)));
      if (read) std::get<2>(call.back()).resize(m->len);
      if (read) std::iota(m->buf, m->buf + m->len, uint8_t{0xA0});
    }
    errno = ENODEV;  // the bridge was unplugged
    return ioctl_fails ? -1 : static_cast<int>(nmsgs);
  }
  void close_adapter(int) override { closed = true; }
};

struct TransferCase {
  const char* name;
  uint8_t addr7;
  std::vector<uint8_t> tx;
  uint16_t rx_len;
  bool ioctl_fails;
  Calls expected;  // I2C_RDWR calls; none when refused before the kernel
};
void PrintTo(const TransferCase& c, std::ostream* os) { *os << c.name; }

const std::vector<uint8_t> kLongest(8192, 0x01);  // the kernel's per-message limit

class I2cDevBusTransfer : public ::testing::TestWithParam<TransferCase> {};

TEST_P(I2cDevBusTransfer, HandsTheKernelExactlyTheseMessages) {
  const TransferCase& c = GetParam();
  FakeKernel kernel;
  kernel.ioctl_fails = c.ioctl_fails;
  std::string why;
  auto bus = I2cDevBus::open("/dev/i2c-7", &why, kernel);
  ASSERT_NE(bus, nullptr);
  std::vector<uint8_t> rx(c.rx_len, 0x55);
  const bool ok = !c.ioctl_fails && !c.expected.empty();
  EXPECT_EQ(bus->transfer(c.addr7, c.tx, rx), ok);
  EXPECT_EQ(kernel.calls, c.expected);
  for (size_t k = 0; ok && k < rx.size(); ++k) EXPECT_EQ(rx[k], uint8_t(0xA0 + k)) << k;
}

INSTANTIATE_TEST_SUITE_P(
    Messages, I2cDevBusTransfer,
    ::testing::Values(
        TransferCase{"RegisterRead", kDemod7, {0x6C}, 4, false, {{wr({0x6C}), rd(4)}}},
        TransferCase{"Write3", kDemod7, {0x10, 1, 2, 3}, 0, false, {{wr({0x10, 1, 2, 3})}}},
        TransferCase{"Repeater", kDemod7, {0x2D, 0x01}, 0, false, {{wr({0x2D, 0x01})}}},
        TransferCase{"ReadOnly", kDemod7, {}, 2, false, {{rd(2)}}},
        TransferCase{"Longest", kDemod7, kLongest, 8192, false, {{wr(kLongest), rd(8192)}}},
        TransferCase{"IoctlFails", kDemod7, {0x6C}, 4, true, {{wr({0x6C}), rd(4)}}},
        TransferCase{"WriteTooLong", kDemod7, std::vector<uint8_t>(8193), 0, false, {}},
        TransferCase{"ReadTooLong", kDemod7, {0x6C}, 8193, false, {}},
        TransferCase{"TenBitAddress", 0x80, {0x6C}, 0, false, {}}));

// Only a character device that answers I2C_FUNCS with plain I2C transfers is an adapter; any
// other node is closed again and named in the reason.
TEST(I2cDevBus, OnlyAnI2cAdapterOpens) {
  struct Case {
    int open_result;
    bool char_device;
    int funcs_result;
    unsigned long functionality;
    const char* why;  // nullptr: opens
  } cases[] = {
      {7, true, 0, I2C_FUNC_I2C, nullptr},
      {-1, true, 0, I2C_FUNC_I2C, "cannot open I2C adapter /dev/i2c-3: "},
      {7, false, 0, I2C_FUNC_I2C, "/dev/i2c-3 is not an I2C adapter: not a character device"},
      {7, true, -1, I2C_FUNC_I2C, "/dev/i2c-3 is not an I2C adapter: it does not answer"},
      {7, true, 0, I2C_FUNC_SMBUS_BYTE, "/dev/i2c-3 is not an I2C adapter: it cannot do plain"},
  };
  for (const auto& c : cases) {
    FakeKernel kernel;
    kernel.open_result = c.open_result;
    kernel.char_device = c.char_device;
    kernel.funcs_result = c.funcs_result;
    kernel.functionality = c.functionality;
    std::string why;
    const auto bus = I2cDevBus::open("/dev/i2c-3", &why, kernel);
    EXPECT_EQ(bus != nullptr, c.why == nullptr) << why;
    if (c.why != nullptr) {
      EXPECT_EQ(why.rfind(c.why, 0), 0u) << why;
    }
    EXPECT_EQ(kernel.closed, c.why != nullptr && c.open_result >= 0);
  }
}

}  // namespace
}  // namespace demodctl
