// dvb_standard: the received standard and transmission mode, as text.
#include <array>
#include <cstring>
#include <string>

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

// Reads what the lock status calls for and fills the report; false on failure.
bool build_report(Transport& bus, Report& report) {
  uint8_t lock = 0;
  if (!read_byte(bus, kRegLockStatus, lock)) return false;
  if ((lock & kLockFec) == 0) {
    report << "unkown standard!";  // "unkown": the exact output
    return true;
  }
  if ((lock & kLockSync) != 0) {  // DVB-S2
    uint8_t vcm = 0;
    if (!read_byte(bus, kRegVcm, vcm)) return false;
    if (vcm < kVcmConstant) {
      report << "S2,VCM";
      return true;
    }
    uint8_t pls = 0;
    uint8_t rolloff = 0;
    if (!read_byte(bus, kRegPls, pls)) return false;
    if (!read_byte(bus, kRegRolloff, rolloff)) return false;
    report << "DVB-S2," << modcod_text(static_cast<uint8_t>((pls & 0xFC) >> 2)) << ","
           << ((pls & kPlsShortFrame) != 0 ? "Short Frame" : "Normal Frame") << ","
           << ((pls & kPlsPilots) != 0 ? "PLT ON" : "PLT OFF") << ","
           << rolloff_text(static_cast<uint8_t>((rolloff & 0xC0) >> 6));
    return true;
  }
  uint8_t fec = 0;
  if (!read_byte(bus, kRegFecMode, fec)) return false;
  const auto code = static_cast<uint8_t>((fec & 0x0F) >> 1);
  if ((fec & kFecDirectv) != 0) {
    report << "Directv," << directv_rate_text(code) << ",Roll_off=0.2";
  } else {
    report << "DVB-S," << dvbs_rate_text(code) << ",Roll_off=0.35";
  }
  return true;
}

}  // namespace

Fault read_mode_report(Transport& bus, std::string& text) {
  Report report;
  if (!build_report(bus, report)) return Failure::no_connection;
  text = report.c_str();
  return {};
}

Outcome dvb_standard(Transport& bus, const Invocation&) {
  std::string report;
  if (const Fault fault = read_mode_report(bus, report)) return *fault;
  return Reply{kMsgOk, std::move(report)};
}

}  // namespace demodctl
