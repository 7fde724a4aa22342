// Stand-in simulated board (to be replaced): one demodulator with 256 registers at 0xD0 whose
// identity bytes at 0x6C are 00 00 36 31, answering on channel 0. No scenarios, no faults.
#include "sim/sim_board.h"

#include <array>
#include <fstream>
#include <nlohmann/json.hpp>

namespace demodctl {

struct SimBoard::State {
  static constexpr uint8_t kDemodAddr7 = 0x68;  // 8-bit 0xD0
  std::array<uint8_t, 256> regs{};
  uint8_t pointer = 0;
  std::vector<int> channels{0};
};

std::unique_ptr<SimBoard> SimBoard::make_default() {
  auto state = std::make_unique<State>();
  state->regs[0x6E] = 0x36;  // identity bytes 2, 3
  state->regs[0x6F] = 0x31;
  return std::unique_ptr<SimBoard>(new SimBoard(std::move(state)));
}

std::unique_ptr<SimBoard> SimBoard::from_file(const std::string& path, std::string* error) {
  std::ifstream in(path);
  if (!in) {
    *error = path + ": cannot be read";
    return nullptr;
  }
  std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  auto board = from_json_text(text, error);
  if (!board) *error = path + ": " + *error;
  return board;
}

std::unique_ptr<SimBoard> SimBoard::from_json_text(std::string_view text, std::string* error) {
  if (!nlohmann::json::accept(text)) {
    *error = "not JSON";
    return nullptr;
  }
  return make_default();
}

SimBoard::SimBoard(std::unique_ptr<State> state) : state_(std::move(state)) {}
SimBoard::~SimBoard() = default;

bool SimBoard::transfer(uint8_t addr7, std::span<const uint8_t> tx, std::span<uint8_t> rx) {
  if (addr7 != State::kDemodAddr7) return false;
  if (!tx.empty()) {
    state_->pointer = tx[0];
    for (size_t i = 1; i < tx.size(); ++i) state_->regs[state_->pointer++] = tx[i];
  }
  for (auto& b : rx) b = state_->regs[state_->pointer++];
  return true;
}

const std::vector<int>& SimBoard::channels() const { return state_->channels; }
bool SimBoard::take_drop_request() { return false; }
uint8_t SimBoard::demod_reg(uint8_t reg) const { return state_->regs[reg]; }
uint8_t SimBoard::tuner_reg(uint8_t, uint8_t) const { return 0; }

}  // namespace demodctl
