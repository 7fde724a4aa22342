// The exact library calls of each register and tuner operation, both transports.
#include <gtest/gtest.h>

#include <array>
#include <string>
#include <vector>

#include "bus/delay.h"
#include "bus/demod_regs.h"
#include "bus/i2c_device.h"
#include "bus/tuner_regs.h"
#include "support/recording_backends.h"

namespace demodctl::testing {
namespace {

using Calls = std::vector<std::string>;

const I2cDevice kDemodSock{"127.0.0.1", 5000, 0, 100, 208};
const I2cDevice kTunerSock{"127.0.0.1", 5000, 3, 100, 192};
const I2cDevice kDemodUsb{"", 0, 0, 100, 464};  // 464 & 0xFF = 0xD0
const I2cDevice kTunerUsb{"", 0, 0, 100, 0xC0};
const uint8_t kData[3] = {0xA1, 0xB2, 0xC3};

std::string captured(auto&& body) {
  ::testing::internal::CaptureStdout();
  body();
  return ::testing::internal::GetCapturedStdout();
}

TEST(SocketRegisters, CallsPassValuesWhole) {
  TransportMode = 1;
  RecordingCalc calc;
  std::array<uint8_t, 4> buf{};
  const I2cDevice odd{"h", 1, 2, 100, 464};
  EXPECT_EQ(demod_read_regs(0x6C, buf.data(), 4, odd), 0);
  EXPECT_EQ(demod_write_regs(0x10, kData, 3, kDemodSock), 0);
  EXPECT_EQ(demod_write_reg(0x2E, 0x03, kDemodSock), 0);
  EXPECT_EQ(demod_read_reg(0x2E, kDemodSock), 0x03);
  EXPECT_EQ(calc.calls,
            (Calls{"ReadregMulti(2,464,0x6C,1,4)", "WriteregMulti(0,208,0x10,1,[A1 B2 C3])",
                   "WriteregMulti(0,208,0x2E,1,[03])", "ReadregMulti(0,208,0x2E,1,1)"}));
}

TEST(SocketRegisters, FailuresPrintTheLineAndReport) {
  TransportMode = 1;
  RecordingCalc calc;
  calc.fail_at = 1;
  calc.fail_from = true;
  std::array<uint8_t, 4> buf{1, 2, 3, 4};
  EXPECT_EQ(captured([&] { EXPECT_EQ(demod_read_regs(0x6C, buf.data(), 4, kDemodSock), -1); }),
            "error=err no connection,failed,return=-1");
  EXPECT_EQ(captured([&] { EXPECT_EQ(demod_read_reg(0x2C, kDemodSock), 0xFF); }),
            "error=err no connection,failed,return=-1");
  EXPECT_EQ(captured([&] { EXPECT_EQ(demod_write_reg(0x2C, 1, kDemodSock), -1); }),
            "error=err no connection,failed,return=-1");
  EXPECT_EQ(captured([&] { EXPECT_EQ(demod_write_regs(0x2C, kData, 3, kDemodSock), -1); }),
            "error=err no connection,failed,return=-1");
}

TEST(UsbRegisters, OneTransactionEachAddressCutToEightBits) {
  TransportMode = 0;
  RecordingUsbio usb;
  usb.memory.set(0xD0, 0x6C, {0x10, 0x01, 0x36, 0x31});
  std::array<uint8_t, 4> buf{};
  EXPECT_EQ(demod_read_regs(0x6C, buf.data(), 4, kDemodUsb), 0);
  EXPECT_EQ(buf, (std::array<uint8_t, 4>{0x10, 0x01, 0x36, 0x31}));
  EXPECT_EQ(demod_write_regs(0x10, kData, 3, kDemodUsb), 0);
  EXPECT_EQ(demod_write_reg(0x2E, 0x01, kDemodUsb), 0);
  EXPECT_EQ(demod_read_reg(0x6E, kDemodUsb), 0x36);
  EXPECT_EQ(usb.calls, (Calls{"StreamI2C(0,[D0 6C],4)", "StreamI2C(0,[D0 10 A1 B2 C3],0)",
                              "StreamI2C(0,[D0 2E 01],0)", "StreamI2C(0,[D0 6E],1)"}));
}

TEST(ChipIdentity, PresenceRule) {
  TransportMode = 0;
  struct Case {
    std::vector<uint8_t> id;
    ChipId expected;
  } cases[] = {{{0x00, 0x00, 0x36, 0x31}, ChipId::present},
               {{0x10, 0x01, 0x36, 0x31}, ChipId::present},
               {{0x36, 0x31, 0x00, 0x00}, ChipId::absent},
               {{0x00, 0x00, 0x36, 0x30}, ChipId::absent}};
  for (const auto& c : cases) {
    RecordingUsbio usb;
    usb.memory.set(0xD0, 0x6C, c.id);
    std::array<uint8_t, 4> id{};
    EXPECT_EQ(check_chip_id(id, kDemodUsb), c.expected);
  }
}

struct TunerCase {
  const char* name;
  int32_t mode;
  uint8_t direct;
  bool write;
  Calls calls;
};

const TunerCase kTunerCases[] = {
    {"socket repeater write",
     1,
     0,
     true,
     {"WriteregMulti(0,208,0x2D,1,[01])", "WriteregMulti(0,192,0x10,1,[A1])", "delay(2)",
      "WriteregMulti(0,208,0x2D,1,[01])", "WriteregMulti(0,192,0x11,1,[B2])", "delay(2)",
      "WriteregMulti(0,208,0x2D,1,[01])", "WriteregMulti(0,192,0x12,1,[C3])", "delay(2)"}},
    {"socket direct write", 1, 1, true, {"WriteregMulti(3,192,0x10,1,[A1 B2 C3])"}},
    {"socket repeater read",
     1,
     0,
     false,
     {"WriteregMulti(0,208,0x2D,1,[01])", "ReadregMulti(0,192,0x10,1,1)", "delay(2)",
      "WriteregMulti(0,208,0x2D,1,[01])", "ReadregMulti(0,192,0x11,1,1)", "delay(2)",
      "WriteregMulti(0,208,0x2D,1,[01])", "ReadregMulti(0,192,0x12,1,1)", "delay(2)"}},
    {"socket direct read", 1, 1, false, {"ReadregMulti(3,192,0x10,1,3)"}},
    {"usb repeater write",
     0,
     0,
     true,
     {"StreamI2C(0,[D0 2D 01],0)", "StreamI2C(0,[C0 10 A1 B2 C3],0)"}},
    {"usb direct write", 0, 1, true, {"StreamI2C(0,[C0 10 A1 B2 C3],0)"}},
    {"usb repeater read", 0, 0, false, {"StreamI2C(0,[D0 2D 01],0)", "StreamI2C(0,[C0 10],3)"}},
    {"usb direct read", 0, 1, false, {"StreamI2C(0,[C0 10],3)"}},
};

TEST(TunerAccess, ExactCallSequences) {
  for (const auto& c : kTunerCases) {
    TransportMode = c.mode;
    RecordingCalc calc;
    RecordingUsbio usb;
    if (c.mode != 0)
      set_delay_hook([&](int ms) { calc.calls.push_back("delay(" + std::to_string(ms) + ")"); });
    const I2cDevice& tuner = c.mode != 0 ? kTunerSock : kTunerUsb;
    const I2cDevice& demod = c.mode != 0 ? kDemodSock : kDemodUsb;
    std::array<uint8_t, 3> buf{};
    const int r = c.write ? tuner_write_regs(0x10, kData, 3, tuner, demod, c.direct)
                          : tuner_read_regs(0x10, buf.data(), 3, tuner, demod, c.direct);
    EXPECT_EQ(r, 0) << c.name;
    EXPECT_EQ(c.mode != 0 ? calc.calls : usb.calls, c.calls) << c.name;
  }
}

TEST(TunerAccess, RefusedRepeaterWritePrintsOncePerByteAndGoesOn) {
  TransportMode = 1;
  RecordingCalc calc;
  calc.fail_reg = 0x2D;
  const std::string out =
      captured([&] { EXPECT_EQ(tuner_write_regs(0x10, kData, 3, kTunerSock, kDemodSock, 0), 0); });
  const std::string line = "error=err no connection,failed,return=-1";
  EXPECT_EQ(out, line + line + line);
  EXPECT_EQ(calc.calls.size(), 9u);  // every byte still sent, every pause kept
}

}  // namespace
}  // namespace demodctl::testing
