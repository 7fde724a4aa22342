#include "regtool/dump.h"

#include <cstdio>
#include <nlohmann/json.hpp>
#include <vector>

#include "demod/register_map.h"

namespace demodctl::regtool {
namespace {

constexpr int kFormatVersion = 1;
constexpr const char* kFormatName = "demodreg-dump";
constexpr std::size_t kRowLength = 16;
constexpr unsigned kByteBits = 8;
constexpr unsigned kPrintableFirst = 0x20;
constexpr unsigned kPrintableLast = 0x7E;

std::string hex_byte(unsigned value) {
  std::array<char, 8> text{};
  std::snprintf(text.data(), text.size(), "0x%02x", value & 0xFFU);
  return text.data();
}

}  // namespace

std::array<bool, kRegisterCount> dump_plan(std::optional<std::pair<uint8_t, uint8_t>> range,
                                           bool side_effects, bool tuner) {
  std::array<bool, kRegisterCount> plan{};
  if (range || tuner) {
    const auto [first, last] = range.value_or(std::pair<uint8_t, uint8_t>{0, 0xFF});
    for (unsigned r = first; r <= last; ++r) plan[r] = true;
  } else {
    for (const Field& field : register_map()) {
      for (std::size_t i = 0; i < field.bytes(); ++i) plan[(field.reg + i) % kRegisterCount] = true;
    }
  }
  if (!side_effects && !tuner) {
    for (const Field& field : register_map()) {
      if (field.read_has_side_effects) plan[field.reg] = false;
    }
  }
  return plan;
}

Result<Dump> read_dump(const RegisterSpace& space, const std::array<bool, kRegisterCount>& plan) {
  std::array<bool, kRegisterCount> barrier{};
  if (!space.tuner) {
    for (const Field& field : register_map()) {
      if (field.read_has_side_effects && !plan[field.reg]) barrier[field.reg] = true;
    }
  }
  Dump dump;
  if (space.tuner) dump.space = "tuner " + hex_byte(static_cast<unsigned>(space.tuner->address));
  std::size_t r = 0;
  while (r < kRegisterCount) {
    if (!plan[r]) {
      ++r;
      continue;
    }
    // The run goes on to the last wanted register before a side-effect register or the end.
    std::size_t end = r;
    for (std::size_t k = r; k < kRegisterCount && !barrier[k]; ++k) {
      if (plan[k]) end = k;
    }
    std::vector<uint8_t> bytes(end - r + 1);
    if (auto done = read_regs(space, static_cast<uint8_t>(r), bytes); !done) return done.error();
    for (std::size_t k = r; k <= end; ++k) {
      if (plan[k]) dump.bytes[k] = bytes[k - r];
    }
    r = end + 1;
  }
  return dump;
}

std::string dump_grid(const Dump& dump) {
  std::string text = "     0  1  2  3  4  5  6  7  8  9  a  b  c  d  e  f    0123456789abcdef\n";
  for (std::size_t row = 0; row < kRegisterCount; row += kRowLength) {
    bool any = false;
    for (std::size_t i = 0; i < kRowLength; ++i) any = any || dump.bytes[row + i].has_value();
    if (!any) continue;
    std::array<char, 8> cell{};
    std::snprintf(cell.data(), cell.size(), "%02zx: ", row);
    text += cell.data();
    std::string ascii;
    for (std::size_t i = 0; i < kRowLength; ++i) {
      const std::optional<uint8_t> byte = dump.bytes[row + i];
      if (byte) {
        std::snprintf(cell.data(), cell.size(), "%02x ", *byte);
        text += cell.data();
        ascii +=
            (*byte >= kPrintableFirst && *byte <= kPrintableLast) ? static_cast<char>(*byte) : '.';
      } else {
        text += "-- ";
        ascii += ' ';
      }
    }
    text += "   " + ascii + "\n";
  }
  return text;
}

std::optional<uint32_t> field_value(const Field& field, const Dump& dump) {
  uint64_t word = 0;
  for (std::size_t i = 0; i < field.bytes(); ++i) {
    const std::optional<uint8_t> byte = dump.bytes[(field.reg + i) % kRegisterCount];
    if (!byte) return std::nullopt;
    word |= static_cast<uint64_t>(*byte) << (kByteBits * i);
  }
  const uint64_t mask = (uint64_t{1} << field.width) - 1U;
  return static_cast<uint32_t>((word >> field.shift) & mask);
}

std::string dump_named(const Dump& dump) {
  std::string text;
  for (const Field& field : register_map()) {
    const std::optional<uint32_t> value = field_value(field, dump);
    if (!value) continue;
    std::array<char, 96> line{};
    std::snprintf(line.data(), line.size(), "0x%02x  %-16s %10u  0x%x\n", field.reg,
                  std::string(field.name).c_str(), *value, *value);
    text += line.data();
  }
  return text;
}

std::string dump_json(const Dump& dump) {
  nlohmann::ordered_json registers = nlohmann::ordered_json::object();
  for (std::size_t r = 0; r < kRegisterCount; ++r) {
    if (dump.bytes[r]) registers[hex_byte(static_cast<unsigned>(r))] = hex_byte(*dump.bytes[r]);
  }
  nlohmann::ordered_json doc = {{"format", kFormatName},
                                {"version", kFormatVersion},
                                {"space", dump.space},
                                {"registers", registers}};
  return doc.dump(2) + "\n";
}

Result<Dump> parse_dump(std::string_view text) {
  const nlohmann::json doc = nlohmann::json::parse(text, nullptr, false);
  if (doc.is_discarded() || !doc.is_object() || doc.value("format", "") != kFormatName ||
      doc.value("version", 0) != kFormatVersion || !doc.contains("registers") ||
      !doc["registers"].is_object()) {
    return Fault{FaultKind::file, "not a demodreg dump (version 1)"};
  }
  Dump dump;
  dump.space = doc.value("space", "demod");
  for (const auto& [key, value] : doc["registers"].items()) {
    unsigned reg = 0;
    unsigned byte = 0;
    if (!value.is_string() || std::sscanf(key.c_str(), "0x%x", &reg) != 1 ||
        std::sscanf(value.get<std::string>().c_str(), "0x%x", &byte) != 1 ||
        reg >= kRegisterCount || byte > 0xFFU) {
      return Fault{FaultKind::file, "register '" + key + "' is not 0xNN: \"0xNN\""};
    }
    dump.bytes[reg] = static_cast<uint8_t>(byte);
  }
  return dump;
}

}  // namespace demodctl::regtool
