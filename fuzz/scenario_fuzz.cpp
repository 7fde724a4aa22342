// libFuzzer target: the scenario reader, given any text (fuzz/scenario.dict holds its keys and
// values). A text is either a scenario or refused with a one-line problem; a scenario builds a
// board, and that board then answers a pass over the registers the commands use, the tuners'
// programming through the repeater and a capture, so every model the scenario sets up is run.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <initializer_list>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "sim/scenario.h"
#include "sim/sim_board.h"

namespace {

constexpr uint8_t kDemod7 = 0x68;  // 0xD0
constexpr uint8_t kRepeaterReg = 0x2D;
constexpr uint8_t kTuners7[] = {0x60, 0x63};  // 0xC0, 0xC6: where the scenarios put tuners
constexpr size_t kTunerRegs = 0x40;
constexpr int kCaptureReads = 64;

[[noreturn]] void fail(const char* what) {
  std::fprintf(stderr, "scenario_fuzz: %s\n", what);
  std::abort();
}

void write(demodctl::SimBoard& board, uint8_t addr7, std::initializer_list<uint8_t> bytes) {
  (void)board.transfer(addr7, std::vector<uint8_t>(bytes), {});  // a refusal is the scenario's own
}

void read(demodctl::SimBoard& board, uint8_t addr7, uint8_t reg, size_t count) {
  std::vector<uint8_t> out(count);
  const uint8_t tx[] = {reg};
  (void)board.transfer(addr7, tx, out);
}

void exercise(demodctl::SimBoard& board) {
  for (int reg = 0; reg <= 0xFF; ++reg) read(board, kDemod7, static_cast<uint8_t>(reg), 1);
  read(board, kDemod7, 0x6C, 4);
  // Program each tuner with a frequency-ish pattern, then read what the board now receives.
  for (uint8_t tuner : kTuners7) {
    write(board, kDemod7, {kRepeaterReg, 0x01});
    std::vector<uint8_t> regs(kTunerRegs + 1);
    for (size_t i = 1; i < regs.size(); ++i) regs[i] = static_cast<uint8_t>(i * 0x1D);
    (void)board.transfer(tuner, regs, {});
    for (int reg : {0x2C, 0x37, 0x7E, 0x83, 0x23, 0x4C, 0x4E}) {
      read(board, kDemod7, static_cast<uint8_t>(reg), 3);
    }
  }
  // A capture: start, flags, data.
  write(board, kDemod7, {0xE0, 0x00, 0x00, 0x01, 0x00, 0x00});
  for (int i = 0; i < kCaptureReads; ++i) read(board, kDemod7, 0xEF, 1);
  board.take_drop_request();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  const auto scenario = demodctl::sim::parse_scenario(text);
  if (!scenario) {
    const std::string& problem = scenario.error().cause;
    if (problem.empty() || problem.find('\n') != std::string::npos) {
      fail("a refusal without its one-line problem");
    }
    return 0;
  }
  auto board = demodctl::SimBoard::from_json_text(text);
  if (!board) fail("a scenario read once but not twice");
  exercise(**board);
  return 0;
}
