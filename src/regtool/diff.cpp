// diff: two dumps, or a dump and the board now; the registers and the map's fields that differ.
#include <array>
#include <cstdio>

#include "files/safe_open.h"
#include "regtool/commands.h"
#include "regtool/dump.h"

namespace demodctl::regtool {
namespace {

constexpr std::size_t kMaxDumpFile =
    1U << 20U;                   // a dump is some 8 KiB; anything far larger is not one
constexpr int kExitTrouble = 2;  // diff's status for an error

std::optional<Dump> load(const std::string& path) {
  const Result<std::string> text = read_small_file(path, kMaxDumpFile);
  if (!text) {
    complain(path + ": " + text.error().cause);
    return std::nullopt;
  }
  Result<Dump> dump = parse_dump(*text);
  if (!dump) {
    complain(path + ": " + dump.error().cause);
    return std::nullopt;
  }
  return *dump;
}

std::string byte_text(std::optional<uint8_t> byte) {
  if (!byte) return "--";
  std::array<char, 8> text{};
  std::snprintf(text.data(), text.size(), "0x%02x", *byte);
  return text.data();
}

bool field_touches(const Field& field, std::size_t reg) {
  return reg >= field.reg && reg < field.reg + field.bytes();
}

// The differences, one register a line and its fields below it; empty when the dumps agree.
std::string differences(const Dump& a, const Dump& b) {
  std::string text;
  const bool demod = a.space == "demod" && b.space == "demod";
  for (std::size_t r = 0; r < kRegisterCount; ++r) {
    if (a.bytes[r] == b.bytes[r]) continue;
    std::array<char, 8> reg{};
    std::snprintf(reg.data(), reg.size(), "0x%02zx", r);
    text += std::string(reg.data()) + ": " + byte_text(a.bytes[r]) + " -> " +
            byte_text(b.bytes[r]) + "\n";
    if (!demod) continue;
    for (const Field& field : register_map()) {
      if (!field_touches(field, r)) continue;
      const auto before = field_value(field, a);
      const auto after = field_value(field, b);
      if (before && after && *before != *after) {
        text += "  " + std::string(field.name) + ": " + std::to_string(*before) + " -> " +
                std::to_string(*after) + "\n";
      }
    }
  }
  return text;
}

}  // namespace

int run_diff(const Request& r, const RegisterSpace* space) {
  const std::optional<Dump> a = load(r.files.front());
  if (!a) return kExitTrouble;
  std::optional<Dump> b;
  if (space) {
    const std::string board_space =
        space->tuner ? "tuner " + byte_text(static_cast<uint8_t>(space->tuner->address)) : "demod";
    if (a->space != board_space) {
      complain(r.files.front() + " is a dump of the " + a->space + ", not of the " + board_space);
      return kExitTrouble;
    }
    std::array<bool, kRegisterCount> plan{};
    for (std::size_t k = 0; k < kRegisterCount; ++k) plan[k] = a->bytes[k].has_value();
    Result<Dump> now = read_dump(*space, plan);
    if (!now) {
      complain(now.error().text());
      return kExitTrouble;
    }
    b = std::move(*now);
  } else {
    b = load(r.files.back());
    if (!b) return kExitTrouble;
  }
  const std::string text = differences(*a, *b);
  std::fputs(text.c_str(), stdout);
  return text.empty() ? kExitOk : kExitDiffer;
}

}  // namespace demodctl::regtool
