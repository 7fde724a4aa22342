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
  std::vector<uint8_t> tx;
  size_t rx_len;
  std::vector<Msg> expected;
};

class I2cDevBusTransfer : public ::testing::TestWithParam<TransferCase> {};

TEST_P(I2cDevBusTransfer, SendsExactlyTheseMessagesInOneIoctl) {
  const TransferCase& c = GetParam();
  FakeKernel kernel;
  auto bus = I2cDevBus::open("/dev/i2c-7", kernel);
  ASSERT_NE(bus, nullptr);
  std::vector<uint8_t> rx(c.rx_len, 0x55);

  ASSERT_TRUE(bus->transfer(kDemodAddr7, c.tx, rx));

  ASSERT_EQ(kernel.calls.size(), 1u);
  EXPECT_EQ(kernel.calls[0], c.expected);
  EXPECT_THAT(kernel.rdwr_fds, ::testing::ElementsAre(kFakeFd));
  for (size_t k = 0; k < rx.size(); ++k) EXPECT_EQ(rx[k], 0xA0 + k) << "rx byte " << k;
}

INSTANTIATE_TEST_SUITE_P(
    Messages, I2cDevBusTransfer,
    ::testing::Values(
        // Identity read: write {0x6C}, repeated start, read 4 bytes.
        TransferCase{"RegisterRead", {0x6C}, 4, {write_msg({0x6C}), read_msg(4)}},
        // Three data bytes at 0x10: one write message of register + data.
        TransferCase{
            "RegisterWrite", {0x10, 0x11, 0x22, 0x33}, 0, {write_msg({0x10, 0x11, 0x22, 0x33})}},
        // Opening the repeater: 0x2D <- 0x01.
        TransferCase{"RepeaterWrite", {0x2D, 0x01}, 0, {write_msg({0x2D, 0x01})}},
        // No register byte: only the read message.
        TransferCase{"ReadWithoutWrite", {}, 2, {read_msg(2)}},
        // Nothing at all: a zero-length write probes the address.
        TransferCase{"AddressProbe", {}, 0, {write_msg({})}}),
    testing_support::CaseName());

struct RefusedCase {
  const char* name;
  uint8_t addr7;
  size_t tx_len;
  size_t rx_len;
};

class I2cDevBusRefuses : public ::testing::TestWithParam<RefusedCase> {};

TEST_P(I2cDevBusRefuses, WithoutCallingTheKernel) {
  const RefusedCase& c = GetParam();
  FakeKernel kernel;
  auto bus = I2cDevBus::open("/dev/i2c-7", kernel);
  ASSERT_NE(bus, nullptr);
  std::vector<uint8_t> tx(c.tx_len, 0x01);
  std::vector<uint8_t> rx(c.rx_len);
  EXPECT_FALSE(bus->transfer(c.addr7, tx, rx));
  EXPECT_TRUE(kernel.calls.empty());
}

INSTANTIATE_TEST_SUITE_P(Limits, I2cDevBusRefuses,
                         ::testing::Values(RefusedCase{"WriteOver8192", kDemodAddr7, 8193, 0},
                                           RefusedCase{"ReadOver8192", kDemodAddr7, 1, 8193},
                                           RefusedCase{"TenBitAddress", 0x80, 1, 0}),
                         testing_support::CaseName());

TEST(I2cDevBus, LongestMessagesStillGoThrough) {
  FakeKernel kernel;
  auto bus = I2cDevBus::open("/dev/i2c-7", kernel);
  ASSERT_NE(bus, nullptr);
  std::vector<uint8_t> tx(8192, 0x01);
  std::vector<uint8_t> rx(8192);
  EXPECT_TRUE(bus->transfer(kDemodAddr7, tx, rx));
  ASSERT_EQ(kernel.calls.size(), 1u);
  ASSERT_EQ(kernel.calls[0].size(), 2u);
  EXPECT_EQ(kernel.calls[0][0].len, 8192);
  EXPECT_EQ(kernel.calls[0][1].len, 8192);
}

TEST(I2cDevBus, IoctlFailureIsAFailedTransfer) {
  FakeKernel kernel;
  kernel.rdwr_errno = ENODEV;  // the bridge was unplugged
  auto bus = I2cDevBus::open("/dev/i2c-7", kernel);
  ASSERT_NE(bus, nullptr);
  const uint8_t tx[] = {0x6C};
  uint8_t rx[4] = {};
  EXPECT_FALSE(bus->transfer(kDemodAddr7, tx, rx));
  EXPECT_EQ(kernel.calls.size(), 1u);
}

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
