// The bus layer: the failure rule, the tuner accesses' exact library calls (those of the other
// operations are checked through the commands that make them), delay_ms on the real clock, and
// below the transport the USB bridge: the I2C_RDWR messages the i2c-dev bus hands to the kernel,
// which nodes it accepts as adapters, and the bridge calls over a recording bus. The row applier
// and the orders of the polls are checked through the commands that use them; the poll's deadline
// here, on a fake clock.
#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <memory>
#include <numeric>
#include <tuple>

#include "adapters/bus_choice.h"
#include "bus/bridge_board_bus.h"
#include "bus/delay.h"
#include "bus/poll.h"
#include "bus/server_board_bus.h"
#include "bus/usb_bridge.h"
#include "demod/register_map.h"
#include "i2cdev/i2c_dev_bus.h"
#include "support/process.h"
#include "support/recording_backends.h"
#include "support/temp_dir.h"
#include "tuner/tuner_bus.h"

namespace demodctl::testing {
namespace {

const I2cDevice kTunerSock{"127.0.0.1", 5000, 3, 400, 192};
const I2cDevice kTunerUsb{"", 0, 0, 100, 0xC0};
const uint8_t kData[3] = {0xA1, 0xB2, 0xC3};
bool refused(const Result<void>& r) { return !r && r.error().kind != FaultKind::timeout; }

// The demodulator at 464 (the address goes on whole to the server, as 464 & 0xFF = 0xD0 on the
// bridge), channel 2.
std::unique_ptr<BoardBus> transport(TestPlatform& p, bool socket) {
  if (socket)
    return std::make_unique<ServerBoardBus>(I2cDevice{"127.0.0.1", 5000, 2, 100, 464},
                                            p.register_server());
  return std::make_unique<BridgeBoardBus>(I2cDevice{"", 0, 0, 100, 464}, p.usb_bridge());
}

// A refused transfer is a fault on both transports (nothing printed); a refused
// read leaves zeros, never what the library scribbled. Only the bridge's identity read turns a
// silent chip into zeros (absent).
TEST(BoardBus, RefusedTransfersAreFailures) {
  for (const bool socket : {true, false}) {
    TestPlatform p;
    p.fail_at = -1;
    auto bus = transport(p, socket);
    std::vector<uint8_t> read{1, 2}, period{1, 2};
    Identity id{9, 9, 9, 9};
    const std::string out = captured([&] {
      EXPECT_TRUE(refused(bus->demod_read_regs(0x2C, read)));
      EXPECT_TRUE(refused(bus->demod_write_regs(0x2C, kData)));
      EXPECT_TRUE(refused(bus->read_period(0xEF, period)));
      EXPECT_FALSE(demod_read_reg(*bus, 0x2C));
      const Result<void> identity = bus->read_identity(reg::identity.reg, id);
      EXPECT_EQ(refused(identity), socket);
    });
    EXPECT_EQ(out, "");
    EXPECT_EQ(read, (std::vector<uint8_t>{0, 0}));
    EXPECT_EQ(period, (std::vector<uint8_t>{0, 0}));
    EXPECT_EQ(id, (Identity{0, 0, 0, 0}));
  }
}

// The gate on both transports, a board without it, and reads (the writes of whole sequences:
// the tuner_set tests).
TEST(TunerBus, GateOpeningsExactCalls) {
  const std::tuple<bool, bool, bool, int, const char*> cases[] = {
      // on the server, direct, a write (else a read), the refused transfer (0: none), the calls
      {true, true, true, 0, "WriteregMulti(3,192,0x10,1,[A1 B2 C3])"},
      {true, false, false, 0,
       "WriteregMulti(2,464,0x2D,1,[01]); ReadregMulti(2,192,0x10,1,1); delay(2); "
       "WriteregMulti(2,464,0x2D,1,[01]); ReadregMulti(2,192,0x11,1,1); delay(2); "
       "WriteregMulti(2,464,0x2D,1,[01]); ReadregMulti(2,192,0x12,1,1); delay(2)"},
      {true, true, false, 0, "ReadregMulti(3,192,0x10,1,3)"},
      {false, false, false, 0, "StreamI2C(0,[D0 2D 01],0); StreamI2C(0,[C0 10],3)"},
      {false, true, false, 0, "StreamI2C(0,[C0 10],3)"},
      // The first refusal ends the access: nothing after it is sent. On the server each opening
      // goes with its write as one pair, the pause after its acknowledgement: a refused opening's
      // write has gone out with it.
      {true, false, true, 3,
       "WriteregMulti(2,464,0x2D,1,[01]); WriteregMulti(2,192,0x10,1,[A1]); delay(2); "
       "WriteregMulti(2,464,0x2D,1,[01]); WriteregMulti(2,192,0x11,1,[B2])"},
      {true, false, true, 2, "WriteregMulti(2,464,0x2D,1,[01]); WriteregMulti(2,192,0x10,1,[A1])"},
      {false, false, true, 1, "StreamI2C(0,[D0 2D 01],0)"},
      {false, false, false, 2, "StreamI2C(0,[D0 2D 01],0); StreamI2C(0,[C0 10],3)"},
  };
  for (const auto& [socket, direct, write, fail_at, calls] : cases) {
    TestPlatform p;
    p.fail_at = fail_at;
    auto bus = transport(p, socket);
    const I2cDevice& tuner = socket ? kTunerSock : kTunerUsb;
    std::vector<uint8_t> buf(3);
    TunerBus tuner_bus(*bus, tuner, direct ? TunerWiring::direct : TunerWiring::behind_gate);
    const Result<void> done =
        write ? tuner_bus.write_regs(0x10, kData) : tuner_bus.read_regs(0x10, buf);
    EXPECT_EQ(refused(done), fail_at != 0) << calls;
    EXPECT_EQ(p.calls, split(calls));
  }
}

TEST(Delay, NeverEndsEarlyOnTheRealClock) {
  using Clock = std::chrono::steady_clock;
  for (int i = 0; i < 20; ++i) {
    for (const int ms : {1, 2}) {
      const auto start = Clock::now();
      delay_ms(ms);
      EXPECT_GE(Clock::now() - start, std::chrono::milliseconds(ms));
    }
  }
}

// A poll ends at its deadline, 3 s after the moment before its first read, however long the
// reads take: with reads of 100 ms there is room for 29 more reads and their 2 ms waits (read,
// then wait) or 28 with 5 ms waits (wait, then read), where a bus that costs nothing has 1500 and
// 600. Each read after the first is tested against the deadline before it is made.
TEST(Poll, EndsAtItsDeadlineWhateverTheReadsCost) {
  const std::tuple<PollOrder, int, int> cases[] = {{PollOrder::read_then_wait, 2, 29},
                                                   {PollOrder::wait_then_read, 5, 28}};
  for (const auto& [order, interval_ms, more_reads] : cases) {
    TestPlatform p;
    p.transfer_ms = std::chrono::milliseconds(100);
    auto bus = transport(p, true);
    std::array<uint8_t, 1> flag{};
    const Result<void> done = poll_register(*bus, {0x38, interval_ms, order}, flag,
                                            [](std::span<const uint8_t> b) { return b[0] != 0; });
    const std::string read = "ReadregMulti(2,464,0x38,1,1)";
    const std::string wait = fmt("delay(%d)", interval_ms);
    Calls calls = {read};
    for (int i = 0; i < more_reads; ++i) {
      const bool read_first = order == PollOrder::read_then_wait;
      calls.push_back(read_first ? read : wait);
      calls.push_back(read_first ? wait : read);
    }
    EXPECT_EQ(done.error().text(), "timeout: register 0x38 not ready after 3000 ms");
    EXPECT_EQ(p.calls, calls) << interval_ms;
  }
}

// One i2c_msg as the kernel got it: addr, flags, the bytes written (zeros for a read).
using Msg = std::tuple<uint16_t, uint16_t, std::vector<uint8_t>>;
Msg wr(std::vector<uint8_t> bytes) { return {0x68, uint16_t{0}, std::move(bytes)}; }
Msg rd(size_t len) { return {0x68, I2C_M_RD, std::vector<uint8_t>(len)}; }
using KernelCalls = std::vector<std::vector<Msg>>;

// Records every I2C_RDWR call; read messages are filled with 0xA0, 0xA1, ...
struct FakeKernel : KernelI2c {
  int open_result = 7;  // the adapter's fd
  bool char_device = true;
  int funcs_result = 0;
  unsigned long functionality = I2C_FUNC_I2C | I2C_FUNC_SMBUS_EMUL;
  int error = 0;  // errno of a failing I2C_RDWR; 0: it succeeds
  bool closed = false;
  KernelCalls calls;
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
      call.emplace_back(m->addr, m->flags, std::vector<uint8_t>(m->buf, m->buf + m->len));
      if (read) std::get<2>(call.back()).assign(m->len, 0);
      if (read) std::iota(m->buf, m->buf + m->len, uint8_t{0xA0});
    }
    errno = error;
    return error != 0 ? -1 : static_cast<int>(nmsgs);
  }
  void close_adapter(int) override { closed = true; }
};

// What a failed I2C_RDWR's errno means: only a byte nobody acknowledged is a NACK.
TEST(I2cDevBus, HandsTheKernelExactlyTheseMessages) {
  constexpr std::string_view ok = kOk, nack = kNack, failed = kBusFailure;
  const std::vector<uint8_t> longest(8192, 0x01);  // the kernel's per-message limit
  const std::tuple<uint8_t, std::vector<uint8_t>, uint16_t, int, std::string_view, std::vector<Msg>>
      cases[] = {
          // addr7, tx, rx length, errno of a failing ioctl (0: it succeeds), the result, the one
          // I2C_RDWR call (none: refused before it)
          {0x68, {0x6C}, 4, 0, ok, {wr({0x6C}), rd(4)}},
          {0x68, {0x10, 1, 2, 3}, 0, 0, ok, {wr({0x10, 1, 2, 3})}},
          {0x68, {}, 2, 0, ok, {rd(2)}},
          {0x68, longest, 8192, 0, ok, {wr(longest), rd(8192)}},
          {0x68, {0x6C}, 4, ENODEV, failed, {wr({0x6C}), rd(4)}},  // the bridge was unplugged
          {0x68, {0x6C}, 4, ENXIO, nack, {wr({0x6C}), rd(4)}},
          {0x68, {0x6C}, 4, EREMOTEIO, nack, {wr({0x6C}), rd(4)}},
          {0x68, std::vector<uint8_t>(8193), 0, 0, failed, {}},
          {0x68, {0x6C}, 8193, 0, failed, {}},
          {0x80, {0x6C}, 0, 0, failed, {}},  // a 10-bit address
      };
  for (const auto& [addr7, tx, rx_len, error, result, msgs] : cases) {
    FakeKernel kernel;
    kernel.error = error;
    auto bus = I2cDevBus::open("/dev/i2c-7", kernel);
    ASSERT_TRUE(bus);
    std::vector<uint8_t> rx(rx_len, 0x55);
    EXPECT_EQ(status_of((*bus)->transfer(addr7, tx, rx)), result)
        << tx.size() << " " << rx_len << " " << error;
    EXPECT_EQ(kernel.calls, msgs.empty() ? KernelCalls{} : KernelCalls{msgs});
    for (size_t k = 0; result == ok && k < rx.size(); ++k) EXPECT_EQ(rx[k], uint8_t(0xA0 + k));
  }
}

// Only a character device that answers I2C_FUNCS with plain I2C transfers is an adapter; any
// other node is closed again and named in the reason.
TEST(I2cDevBus, OnlyAnI2cAdapterOpens) {
  const std::tuple<int, bool, int, unsigned long, const char*> cases[] = {
      // open result, a character device, I2C_FUNCS result, functionality, reason (none: opens)
      {7, true, 0, I2C_FUNC_I2C, nullptr},
      {-1, true, 0, I2C_FUNC_I2C, "cannot open I2C adapter /dev/i2c-3: "},
      {7, false, 0, I2C_FUNC_I2C, "/dev/i2c-3 is not an I2C adapter: not a character device"},
      {7, true, -1, I2C_FUNC_I2C, "/dev/i2c-3 is not an I2C adapter: it does not answer"},
      {7, true, 0, I2C_FUNC_SMBUS_BYTE, "/dev/i2c-3 is not an I2C adapter: it cannot do plain"},
  };
  for (const auto& [open_result, char_device, funcs_result, functionality, reason] : cases) {
    FakeKernel kernel;
    kernel.open_result = open_result;
    kernel.char_device = char_device;
    kernel.funcs_result = funcs_result;
    kernel.functionality = functionality;
    const auto bus = I2cDevBus::open("/dev/i2c-3", kernel);
    const std::string why = bus ? "" : bus.error().cause;
    EXPECT_EQ(bus.has_value(), reason == nullptr) << why;
    EXPECT_TRUE(reason == nullptr || why.starts_with(reason)) << why;
    EXPECT_EQ(kernel.closed, reason != nullptr && open_result >= 0);
  }
}

// A bridge on a recording bus (that only 0x68 acknowledges), opened.
std::unique_ptr<UsbBridge> open_bridge(RecordingBus*& bus) {
  auto bridge = std::make_unique<UsbBridge>([&bus]() -> Result<std::unique_ptr<I2cBus>> {
    auto owned = std::make_unique<RecordingBus>();
    bus = owned.get();
    return std::unique_ptr<I2cBus>(std::move(owned));
  });
  EXPECT_TRUE(bridge->open(100).has_value());
  return bridge;
}

// The bridge's bus passes each transaction on and tells the NACK of an address nobody answers.
TEST(UsbBridge, FailedReadsAreZeros) {
  const std::tuple<uint8_t, std::vector<uint8_t>, const char*> cases[] = {
      // the address, the bytes read, the transaction
      {0x68, {0xA0}, "68: 6C -> 1"},
      {0x60, {0, 0}, "60: 6C -> 2"},  // failed: zeros, not the bus's EE
  };
  for (const auto& [addr7, want, transaction] : cases) {
    RecordingBus* bus = nullptr;
    auto bridge = open_bridge(bus);
    std::vector<uint8_t> rbuf(want.size(), 0xAA);
    const uint8_t reg[] = {0x6C};
    EXPECT_EQ(status_of(bridge->bus()->transfer(addr7, reg, rbuf)), addr7 == 0x68 ? kOk : kNack);
    EXPECT_EQ(bus->log, Calls{transaction});
    EXPECT_EQ(rbuf, want) << transaction;
  }
}

// No adapter in an empty sysfs, a trace that cannot be created; a closed bridge has no bus.
TEST(UsbBridge, OpenFailuresAreOpenErrors) {
  const TempDir dir;
  const std::string& empty_sysfs = dir.path();
  const std::tuple<const char*, const char*> cases[] = {{nullptr, nullptr},
                                                        {"sim", "/nonexistent/dir/trace.jsonl"}};
  for (const auto& [bus, trace] : cases) {
    RunSettings settings;
    settings.trace_path = trace != nullptr ? trace : "";
    UsbBridge bridge([&, bus = bus] { return open_chosen_bus(parse_bus_choice(bus), empty_sysfs); },
                     settings);
    const Result<void> opened = bridge.open(100);
    EXPECT_EQ(opened ? FaultKind::bus_failure : opened.error().kind, FaultKind::open_error);
    EXPECT_EQ(bridge.bus(), nullptr) << (bus ? bus : "unset");
  }
}

}  // namespace
}  // namespace demodctl::testing
