// dvb_standard: the received standard and transmission mode, read as fields and printed as text.
#include <array>
#include <cstring>
#include <string>
#include <string_view>

#include "demod/demod_commands.h"
#include "demod/lock_status.h"
#include "demod/mode_report.h"
#include "demod/mode_tables.h"
#include "output/result_line.h"

namespace demodctl {
namespace {

constexpr uint8_t kRegVcm = 0x97;      // bit 7 set: constant coding, MODCOD of 0x5C valid
constexpr uint8_t kRegPls = 0x5C;      // bits 7..2 MODCOD, bit 1 short frame, bit 0 pilots
constexpr uint8_t kRegRolloff = 0x9D;  // bits 7..6 roll-off code
constexpr uint8_t kRegFecMode = 0x8E;  // bit 0 DirecTV, bits 3..1 code-rate code

constexpr uint8_t kVcmConstant = 0x80;
constexpr uint8_t kPlsShortFrame = 0x02;
constexpr uint8_t kPlsPilots = 0x01;
constexpr uint8_t kFecDirectv = 0x01;
// A MODCOD text is "MODULATION+RATE"; the dummy frame and the reserved ones have no '+'.
constexpr char kModcodJoin = '+';
// What the DVB-S and DirecTV rate tables hold where the standard has no such code.
constexpr std::string_view kNoRate = "NA";
// The roll-off that DVB-S and DirecTV fix, and the text of each in the report.
constexpr double kDvbsRolloff = 0.35;
constexpr double kDirectvRolloff = 0.2;

// The report is assembled in a zero-filled 128-byte buffer; the longest report
// is 57 characters, and appends never run past the buffer.
class Report {
 public:
  Report& operator<<(const char* piece) {
    const size_t room = buf_.size() - 1 - len_;
    const size_t n = std::min(std::strlen(piece), room);
    std::memcpy(buf_.data() + len_, piece, n);
    len_ += n;
    return *this;
  }
  const char* c_str() const { return buf_.data(); }

 private:
  std::array<char, 128> buf_{};
  size_t len_ = 0;
};

// One register byte; false after a refused read.
bool read_byte(Transport& bus, uint8_t reg, uint8_t& value) {
  const auto byte = demod_read_reg(bus, reg);
  if (byte) value = *byte;
  return byte.has_value();
}

// Reads what the lock status calls for into `m`; false on a refused read.
bool read_fields(Transport& bus, ModeReport& m) {
  uint8_t lock = 0;
  if (!read_byte(bus, kRegLockStatus, lock)) return false;
  if ((lock & kLockFec) == 0) return true;
  if ((lock & kLockSync) != 0) {
    m.standard = Standard::dvbs2;
    uint8_t vcm = 0;
    if (!read_byte(bus, kRegVcm, vcm)) return false;
    m.vcm = vcm < kVcmConstant;
    if (m.vcm) return true;
    uint8_t pls = 0;
    uint8_t rolloff = 0;
    if (!read_byte(bus, kRegPls, pls)) return false;
    if (!read_byte(bus, kRegRolloff, rolloff)) return false;
    m.modcod = static_cast<uint8_t>((pls & 0xFC) >> 2);
    m.short_frame = (pls & kPlsShortFrame) != 0;
    m.pilots = (pls & kPlsPilots) != 0;
    m.rolloff_code = static_cast<uint8_t>((rolloff & 0xC0) >> 6);
    return true;
  }
  uint8_t fec = 0;
  if (!read_byte(bus, kRegFecMode, fec)) return false;
  m.standard = (fec & kFecDirectv) != 0 ? Standard::directv : Standard::dvbs;
  m.rate_code = static_cast<uint8_t>((fec & 0x0F) >> 1);
  return true;
}

// The part of the MODCOD text before or after the '+'; empty for the dummy and reserved ones.
std::string modcod_part(uint8_t modcod, bool rate) {
  const std::string_view text = modcod_text(modcod);
  const size_t join = text.find(kModcodJoin);
  if (join == std::string_view::npos) return {};
  return std::string(rate ? text.substr(join + 1) : text.substr(0, join));
}

}  // namespace

Fault read_mode(Transport& bus, ModeReport& mode) {
  ModeReport m;
  if (!read_fields(bus, m)) return Failure::no_connection;
  mode = m;
  return {};
}

std::string mode_text(const ModeReport& m) {
  Report report;
  switch (m.standard) {
    case Standard::unknown:
      report << "unkown standard!";  // "unkown": the exact output
      break;
    case Standard::dvbs2:
      if (m.vcm) {
        report << "S2,VCM";
        break;
      }
      report << "DVB-S2," << modcod_text(m.modcod) << ","
             << (m.short_frame ? "Short Frame" : "Normal Frame") << ","
             << (m.pilots ? "PLT ON" : "PLT OFF") << "," << rolloff_text(m.rolloff_code);
      break;
    case Standard::directv:
      report << "Directv," << directv_rate_text(m.rate_code) << ",Roll_off=0.2";
      break;
    case Standard::dvbs:
      report << "DVB-S," << dvbs_rate_text(m.rate_code) << ",Roll_off=0.35";
      break;
  }
  return report.c_str();
}

std::string standard_name(Standard standard) {
  switch (standard) {
    case Standard::dvbs2:
      return "DVB-S2";
    case Standard::dvbs:
      return "DVB-S";
    case Standard::directv:
      return "DirecTV";
    case Standard::unknown:
      break;
  }
  return {};
}

std::string modulation_name(const ModeReport& m) {
  if (m.standard != Standard::dvbs2 || m.vcm) return {};
  return modcod_part(m.modcod, false);
}

std::string code_rate_name(const ModeReport& m) {
  std::string rate;
  switch (m.standard) {
    case Standard::dvbs2:
      if (!m.vcm) rate = modcod_part(m.modcod, true);
      break;
    case Standard::dvbs:
      rate = dvbs_rate_text(m.rate_code);
      break;
    case Standard::directv:
      rate = directv_rate_text(m.rate_code);
      break;
    case Standard::unknown:
      break;
  }
  return rate == kNoRate ? std::string() : rate;
}

std::optional<double> roll_off(const ModeReport& m) {
  switch (m.standard) {
    case Standard::dvbs2:
      if (m.vcm) return std::nullopt;
      return rolloff_factor(m.rolloff_code);
    case Standard::dvbs:
      return kDvbsRolloff;
    case Standard::directv:
      return kDirectvRolloff;
    case Standard::unknown:
      break;
  }
  return std::nullopt;
}

Outcome dvb_standard(Transport& bus, const Invocation&) {
  ModeReport mode;
  if (const Fault fault = read_mode(bus, mode)) return *fault;
  return Reply{kMsgOk, mode_text(mode)};
}

}  // namespace demodctl
