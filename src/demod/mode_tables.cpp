#include "demod/mode_tables.h"

#include <iterator>

namespace demodctl {
namespace {

constexpr const char* kModcod[] = {
    "Dummy",                                                               // 0
    "QPSK+1/4",    "QPSK+1/3",    "QPSK+2/5",   "QPSK+1/2",   "QPSK+3/5",  // 1-5
    "QPSK+2/3",    "QPSK+3/4",    "QPSK+4/5",   "QPSK+5/6",   "QPSK+8/9",  // 6-10
    "QPSK+9/10",                                                           // 11
    "8PSK+3/5",    "8PSK+2/3",    "8PSK+3/4",   "8PSK+5/6",   "8PSK+8/9",  // 12-16
    "8PSK+9/10",                                                           // 17
    "16APSK+2/3",  "16APSK+3/4",  "16APSK+4/5", "16APSK+5/6",              // 18-21
    "16APSK+8/9",  "16APSK+9/10",                                          // 22-23
    "32APSK+3/4",  "32APSK+4/5",  "32APSK+5/6", "32APSK+8/9",              // 24-27
    "32APSK+9/10",                                                         // 28
};
constexpr const char* kModcodReserved = "Reserved";

constexpr const char* kRolloff[] = {"Roll_off=0.35", "Roll_off=0.25", "Roll_off=0.2",
                                    "Reserved roll_off"};
// The factors of the same codes; code 3 is reserved.
constexpr double kRolloffFactor[] = {0.35, 0.25, 0.2};

constexpr const char* kDvbsRate[] = {"1/2", "2/3", "3/4", "5/6", "7/8", "NA", "NA", "NA"};
constexpr const char* kDirectvRate[] = {"1/2", "2/3", "NA", "NA", "NA", "6/7", "NA", "NA"};

}  // namespace

const char* modcod_text(uint8_t index) {
  return index < std::size(kModcod) ? kModcod[index] : kModcodReserved;
}
const char* rolloff_text(uint8_t code) { return kRolloff[code & 0x03]; }
std::optional<double> rolloff_factor(uint8_t code) {
  const auto index = static_cast<size_t>(code & 0x03);
  if (index >= std::size(kRolloffFactor)) return std::nullopt;
  return kRolloffFactor[index];
}
const char* dvbs_rate_text(uint8_t code) { return kDvbsRate[code & 0x07]; }
const char* directv_rate_text(uint8_t code) { return kDirectvRate[code & 0x07]; }

}  // namespace demodctl
