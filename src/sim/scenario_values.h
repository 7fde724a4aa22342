// Readers for the values of a scenario file. Each checks type and range and
// throws ScenarioError naming where in the file the value sits.
#pragma once

#include <array>
#include <cstdint>
#include <initializer_list>
#include <nlohmann/json.hpp>
#include <stdexcept>
#include <string>
#include <string_view>

namespace demodctl::sim {

class ScenarioError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Most entries any one array may hold.
inline constexpr std::size_t kMaxArrayEntries = 256;

// A JSON unsigned integer, or a string "0x.." (hex) or "..." (decimal), within [lo, hi].
uint64_t read_number(const nlohmann::json& value, const std::string& where, uint64_t lo,
                     uint64_t hi);
// The same for a text key ("0x2C" or "44").
uint64_t read_number_text(std::string_view text, const std::string& where, uint64_t lo,
                          uint64_t hi);
// A JSON number (integer or fraction) within [lo, hi].
double read_real(const nlohmann::json& value, const std::string& where, double lo, double hi);
uint8_t read_byte(const nlohmann::json& value, const std::string& where);
// An 8-bit bus address byte: even (bit 0 is the read/write bit).
uint8_t read_address(const nlohmann::json& value, const std::string& where);
// Four identity bytes: "01 00 36 31" or [1, 0, "0x36", 49].
std::array<uint8_t, 4> read_identity(const nlohmann::json& value, const std::string& where);
bool read_bool(const nlohmann::json& value, const std::string& where);

const nlohmann::json& expect_object(const nlohmann::json& value, const std::string& where);
// An array of at most kMaxArrayEntries entries.
const nlohmann::json& expect_array(const nlohmann::json& value, const std::string& where);
// Rejects any key of `object` not in `allowed`.
void check_keys(const nlohmann::json& object, const std::string& where,
                std::initializer_list<std::string_view> allowed);

// A key or text made safe for a one-line message (printable, bounded length).
inline constexpr std::size_t kMaxQuotedLength = 40;
std::string printable(std::string_view text, std::size_t max_length = kMaxQuotedLength);

}  // namespace demodctl::sim
