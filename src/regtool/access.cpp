// get, set and dump: registers by number or by name, read and written.
#include <poll.h>
#include <unistd.h>

#include <array>
#include <cstdio>
#include <vector>

#include "demod/field_access.h"
#include "regtool/commands.h"
#include "regtool/dump.h"

namespace demodctl::regtool {
namespace {

// How long a write waits for its yes at the terminal.
constexpr int kAnswerTimeoutMs = 300000;
constexpr std::size_t kAnswerSize = 16;

std::string bytes_line(uint8_t reg, const std::vector<uint8_t>& bytes) {
  std::array<char, 8> cell{};
  std::snprintf(cell.data(), cell.size(), "0x%02x:", reg);
  std::string line = cell.data();
  for (const uint8_t b : bytes) {
    std::snprintf(cell.data(), cell.size(), " 0x%02x", b);
    line += cell.data();
  }
  return line + "\n";
}

std::string where(const RegisterSpace& space) {
  std::array<char, 32> text{};
  const int address = space.tuner ? space.tuner->address : space.bus.demod().address;
  std::snprintf(text.data(), text.size(), "%s 0x%02X", space.tuner ? "tuner" : "demodulator",
                static_cast<unsigned>(address) & 0xFFU);
  return text.data();
}

// A yes typed at the terminal within the timeout.
bool confirmed(const std::string& question) {
  std::fprintf(stderr, "%s Continue? [y/N] ", question.c_str());
  std::fflush(stderr);
  pollfd in{STDIN_FILENO, POLLIN, 0};
  if (poll(&in, 1, kAnswerTimeoutMs) != 1) return false;
  std::array<char, kAnswerSize> answer{};
  const ssize_t got = read(STDIN_FILENO, answer.data(), answer.size() - 1);
  return got > 0 && (answer[0] == 'y' || answer[0] == 'Y');
}

}  // namespace

int run_get(const Request& r, const RegisterSpace& space) {
  const Selector& s = r.selectors.front();
  if (s.field && space.tuner) {
    complain("names are the demodulator's: give a tuner register by number");
    return kExitUsage;
  }
  std::vector<uint8_t> bytes(r.count);
  if (auto done = read_regs(space, s.reg, bytes); !done) return board_fault(done.error());
  std::fputs(bytes_line(s.reg, bytes).c_str(), stdout);
  if (s.field) {
    Dump dump;
    for (std::size_t i = 0; i < bytes.size(); ++i)
      dump.bytes[(s.reg + i) % kRegisterCount] = bytes[i];
    const uint32_t value = field_value(*s.field, dump).value_or(0);
    std::printf("%s = %u (0x%x)\n", std::string(s.field->name).c_str(), value, value);
  }
  return kExitOk;
}

int run_set(const Request& r, const RegisterSpace& space, const Settings& settings) {
  const Selector& s = r.selectors.front();
  if (s.field && space.tuner) {
    complain("names are the demodulator's: give a tuner register by number");
    return kExitUsage;
  }
  std::vector<uint8_t> bytes;
  for (const uint32_t v : r.values) bytes.push_back(static_cast<uint8_t>(v));
  std::array<char, 96> question{};
  if (s.field) {
    std::snprintf(question.data(), question.size(), "Setting %s (register 0x%02x) to %u on the",
                  std::string(s.field->name).c_str(), s.reg, r.values.front());
  } else {
    std::snprintf(question.data(), question.size(),
                  "Writing %zu byte(s) from register 0x%02x on the", bytes.size(), s.reg);
  }
  if (!r.yes && !(settings.interactive &&
                  confirmed(std::string(question.data()) + " " + where(space) + "."))) {
    complain("nothing written: no yes given");
    return kExitUsage;
  }
  const Result<void> done =
      s.field ? update_bits(space.bus, *s.field, bytes.front()) : write_regs(space, s.reg, bytes);
  return done ? kExitOk : board_fault(done.error());
}

int run_dump(const Request& r, const RegisterSpace& space) {
  const Result<Dump> dump =
      read_dump(space, dump_plan(r.range, r.side_effects, space.tuner.has_value()));
  if (!dump) return board_fault(dump.error());
  if (r.json) {
    std::fputs(dump_json(*dump).c_str(), stdout);
  } else if (r.named && !space.tuner) {
    std::fputs(dump_named(*dump).c_str(), stdout);
  } else {
    std::fputs(dump_grid(*dump).c_str(), stdout);
  }
  return kExitOk;
}

}  // namespace demodctl::regtool
