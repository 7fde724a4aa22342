// dvb_standard: the received standard and transmission mode, read as fields and printed as text.
#include <array>
#include <cstring>
#include <string>
#include <string_view>

#include "demod/demod_commands.h"
#include "demod/field_access.h"
#include "demod/mode_report.h"
#include "demod/mode_tables.h"
#include "outcome/result_line.h"

namespace demodctl {
namespace {

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

// One register byte, whose fields are taken apart after it.
Result<void> read_byte(BoardBus& bus, uint8_t reg, uint8_t& value) {
  return bus.demod_read_regs(reg, std::span(&value, 1));
}

// Reads what the lock status calls for into `m`, each register once; the fault of a refused read.
Result<void> read_fields(BoardBus& bus, ModeReport& m) {
  uint8_t lock = 0;
  if (auto done = read_byte(bus, reg::lock_status.reg, lock); !done) return done.error();
  if (!reg::lock_fec.set_in(lock)) return {};
  if (reg::lock_sync.set_in(lock)) {
    m.standard = Standard::dvbs2;
    uint8_t vcm = 0;
    if (auto done = read_byte(bus, reg::vcm_constant.reg, vcm); !done) return done.error();
    m.vcm = !reg::vcm_constant.set_in(vcm);
    if (m.vcm) return {};
    uint8_t pls = 0;
    uint8_t rolloff = 0;
    if (auto done = read_byte(bus, reg::modcod.reg, pls); !done) return done.error();
    if (auto done = read_byte(bus, reg::rolloff.reg, rolloff); !done) return done.error();
    m.modcod = reg::modcod.get(pls);
    m.short_frame = reg::short_frame.set_in(pls);
    m.pilots = reg::pilots.set_in(pls);
    m.rolloff_code = reg::rolloff.get(rolloff);
    return {};
  }
  uint8_t fec = 0;
  if (auto done = read_byte(bus, reg::fec_directv.reg, fec); !done) return done.error();
  m.standard = reg::fec_directv.set_in(fec) ? Standard::directv : Standard::dvbs;
  m.rate_code = reg::fec_code_rate.get(fec);
  return {};
}

// The part of the MODCOD text before or after the '+'; empty for the dummy and reserved ones.
std::string modcod_part(uint8_t modcod, bool rate) {
  const std::string_view text = modcod_text(modcod);
  const size_t join = text.find(kModcodJoin);
  if (join == std::string_view::npos) return {};
  return std::string(rate ? text.substr(join + 1) : text.substr(0, join));
}

}  // namespace

Result<ModeReport> read_mode(BoardBus& bus) {
  ModeReport m;
  if (auto done = read_fields(bus, m); !done) return done.error();
  return m;
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

Outcome dvb_standard(BoardBus& bus) {
  const Result<ModeReport> mode = read_mode(bus);
  if (!mode) return mode.error();
  return Reply{kMsgOk, mode_text(*mode)};
}

}  // namespace demodctl
