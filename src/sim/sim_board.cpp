// Minimal simulated board: the demodulator alone, identity 01 00 36 31, no
// tuner; a scenario is accepted when it is a JSON object and otherwise ignored.
#include "sim/sim_board.h"

#include <array>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>

namespace demodctl {

struct SimBoard::State {
  std::array<uint8_t, 256> regs{};
  uint8_t pointer = 0;
  std::vector<int> channels{0};
};

namespace {
constexpr uint8_t kDemodAddr7 = 0xD0 >> 1;
constexpr uint8_t kIdentityReg = 0x6C;
constexpr std::array<uint8_t, 4> kIdentity = {0x01, 0x00, 0x36, 0x31};
}  // namespace

SimBoard::SimBoard(std::unique_ptr<State> state) : state_(std::move(state)) {}
SimBoard::~SimBoard() = default;

std::unique_ptr<SimBoard> SimBoard::make_default() {
  auto state = std::make_unique<State>();
  for (size_t i = 0; i < kIdentity.size(); ++i) state->regs[kIdentityReg + i] = kIdentity[i];
  return std::unique_ptr<SimBoard>(new SimBoard(std::move(state)));
}

std::unique_ptr<SimBoard> SimBoard::from_file(const std::string& path, std::string* error) {
  std::ifstream in(path);
  if (!in) {
    *error = path + ": cannot be read";
    return nullptr;
  }
  std::ostringstream text;
  text << in.rdbuf();
  auto board = from_json_text(text.str(), error);
  if (!board) *error = path + ": " + *error;
  return board;
}

std::unique_ptr<SimBoard> SimBoard::from_json_text(std::string_view text, std::string* error) {
  const auto doc = nlohmann::json::parse(text, nullptr, false);
  if (doc.is_discarded() || !doc.is_object()) {
    *error = "not a JSON object";
    return nullptr;
  }
  return make_default();
}

bool SimBoard::transfer(uint8_t addr7, std::span<const uint8_t> tx, std::span<uint8_t> rx) {
  if (addr7 != kDemodAddr7) return false;
  if (!tx.empty()) {
    state_->pointer = tx[0];
    for (size_t i = 1; i < tx.size(); ++i) state_->regs[state_->pointer++] = tx[i];
  }
  for (uint8_t& byte : rx) byte = state_->regs[state_->pointer++];
  return true;
}

const std::vector<int>& SimBoard::channels() const { return state_->channels; }
bool SimBoard::take_drop_request() { return false; }
uint8_t SimBoard::demod_reg(uint8_t reg) const { return state_->regs[reg]; }
uint8_t SimBoard::tuner_reg(uint8_t, uint8_t) const { return 0; }

}  // namespace demodctl
