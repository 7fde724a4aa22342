// The I2C_RDWR messages the i2c-dev bus hands to the kernel, byte for byte.
#include "bus/i2c_dev_bus.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cerrno>
#include <string>
#include <vector>

#include "bus_test_support.h"
#include "fake_kernel_i2c.h"

namespace demodctl {
namespace {

using testing_support::FakeKernel;
using testing_support::kDemodAddr7;
using testing_support::kFakeFd;
using testing_support::Msg;
using testing_support::read_msg;
using testing_support::write_msg;

struct TransferCase {
  const char* name;
  uint8_t addr7;
  std::vector<uint8_t> tx;
  uint16_t rx_len;
  int ioctl_errno;            // nonzero: the ioctl fails with it
  bool ok;                    // what transfer() returns
  std::vector<Msg> expected;  // the one I2C_RDWR call; empty: the kernel is not called
};

const std::vector<uint8_t> kLongest(8192, 0x01);
const std::vector<uint8_t> kTooLong(8193, 0x01);

class I2cDevBusTransfer : public ::testing::TestWithParam<TransferCase> {};

TEST_P(I2cDevBusTransfer, HandsTheKernelExactlyTheseMessages) {
  const TransferCase& c = GetParam();
  FakeKernel kernel;
  kernel.rdwr_errno = c.ioctl_errno;
  auto bus = I2cDevBus::open("/dev/i2c-7", kernel);
  ASSERT_NE(bus, nullptr);
  std::vector<uint8_t> rx(c.rx_len, 0x55);

  EXPECT_EQ(bus->transfer(c.addr7, c.tx, rx), c.ok);

  if (c.expected.empty()) {
    EXPECT_TRUE(kernel.calls.empty());
    return;
  }
  ASSERT_EQ(kernel.calls.size(), 1u);
  EXPECT_EQ(kernel.calls[0], c.expected);
  EXPECT_THAT(kernel.rdwr_fds, ::testing::ElementsAre(kFakeFd));
  if (c.ok) {
    for (size_t k = 0; k < rx.size(); ++k) EXPECT_EQ(rx[k], uint8_t(0xA0 + k)) << "rx " << k;
  }
}

INSTANTIATE_TEST_SUITE_P(
    Messages, I2cDevBusTransfer,
    ::testing::Values(
        // Identity read: write {0x6C}, repeated start, read 4 bytes.
        TransferCase{
            "RegisterRead", kDemodAddr7, {0x6C}, 4, 0, true, {write_msg({0x6C}), read_msg(4)}},
        // Three data bytes at 0x10: one write message of register + data.
        TransferCase{"RegisterWrite",
                     kDemodAddr7,
                     {0x10, 0x11, 0x22, 0x33},
                     0,
                     0,
                     true,
                     {write_msg({0x10, 0x11, 0x22, 0x33})}},
        // Opening the repeater: 0x2D <- 0x01.
        TransferCase{
            "RepeaterWrite", kDemodAddr7, {0x2D, 0x01}, 0, 0, true, {write_msg({0x2D, 0x01})}},
        // No register byte: only the read message.
        TransferCase{"ReadWithoutWrite", kDemodAddr7, {}, 2, 0, true, {read_msg(2)}},
        // Nothing at all: a zero-length write probes the address.
        TransferCase{"AddressProbe", kDemodAddr7, {}, 0, 0, true, {write_msg({})}},
        TransferCase{"LongestMessages",
                     kDemodAddr7,
                     kLongest,
                     8192,
                     0,
                     true,
                     {write_msg(kLongest), read_msg(8192)}},
        // The bridge was unplugged: the ioctl fails.
        TransferCase{
            "IoctlFails", kDemodAddr7, {0x6C}, 4, ENODEV, false, {write_msg({0x6C}), read_msg(4)}},
        // Beyond the kernel's limits: refused before any call.
        TransferCase{"WriteOver8192", kDemodAddr7, kTooLong, 0, 0, false, {}},
        TransferCase{"ReadOver8192", kDemodAddr7, {0x6C}, 8193, 0, false, {}},
        TransferCase{"TenBitAddress", 0x80, {0x6C}, 0, 0, false, {}}),
    testing_support::CaseName());

TEST(I2cDevBus, OpenFailureGivesNoBusAndClosesNothing) {
  FakeKernel kernel;
  kernel.open_result = -1;
  EXPECT_EQ(I2cDevBus::open("/dev/i2c-3", kernel), nullptr);
  EXPECT_THAT(kernel.opened, ::testing::ElementsAre("/dev/i2c-3"));
  EXPECT_TRUE(kernel.closed.empty());
}

TEST(I2cDevBus, RealKernelFailsTransfersOnANodeThatIsNoAdapter) {
  auto bus = I2cDevBus::open("/dev/null");
  ASSERT_NE(bus, nullptr);
  const uint8_t tx[] = {0x6C};
  uint8_t rx[4] = {};
  EXPECT_FALSE(bus->transfer(kDemodAddr7, tx, rx));
}

}  // namespace
}  // namespace demodctl
