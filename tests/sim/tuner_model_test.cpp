// The tuning read back from tuner registers, and the transponder it receives.
#include "sim/tuner_model.h"

#include <gtest/gtest.h>

#include <vector>

#include "tuner/rda5815.h"
#include "tuner/tuner0.h"

namespace demodctl::sim {
namespace {

using Writes = std::vector<std::pair<uint8_t, std::vector<uint8_t>>>;

RegisterFile registers(const Writes& writes) {
  RegisterFile r{};
  for (const auto& [reg, bytes] : writes) {
    for (size_t i = 0; i < bytes.size(); ++i) r[reg + i] = bytes[i];
  }
  return r;
}

TEST(TunerModel, DecodesTheTuning) {
  const struct {
    TunerType type;
    Writes writes;
    std::optional<Tuning> tuning;
  } cases[] = {
      {TunerType::rda5815,
       {{0x07, {0x08, 0x12, 0xA8, 0xA6}}, {0x0B, {0x5C}}, {0x04, {0xC3}}, {0x2B, {0x97}}},
       Tuning{1550000, 35556}},
      {TunerType::rda5815, {{0x07, {0x08, 0x12, 0xA8, 0xA6}}, {0x04, {0xC3}}, {0x2B, {0x95}}}, {}},
      {TunerType::type0,
       {{0x00, {0x23, 0x2F, 0x68, 0xD0}}, {0x05, {108}}, {0x25, {0x06}}},
       Tuning{950000, 35887}},
      {TunerType::type0, {{0x00, {0x38, 0x8E, 0x39, 0xD0}}, {0x25, {0x06}}}, Tuning{1500000, 0}},
      {TunerType::type0, {{0x00, {0x39, 0x68, 0x4B, 0x50}}, {0x25, {0x06}}}, Tuning{1550000, 0}},
      {TunerType::type0, {{0x00, {0x39, 0x68, 0x4B, 0x50}}, {0x25, {0x00}}}, {}},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(decode_tuning(c.type, registers(c.writes)), c.tuning) << int(c.writes[0].second[0]);
  }
  // What the drivers write for every MHz of the band reads back as that frequency.
  for (int32_t mhz = 950; mhz <= 2150; ++mhz) {
    const uint32_t word = rda5815_freq_word(mhz);
    const auto rda = registers(
        {{0x07, {uint8_t(word >> 24), uint8_t(word >> 16), uint8_t(word >> 8), uint8_t(word)}},
         {0x04, {0xC3}},
         {0x2B, {0x97}}});
    const auto synth = tuner0_synth_bytes(mhz);
    const auto type0 = registers({{0x00, {synth.begin(), synth.end()}}, {0x25, {0x06}}});
    ASSERT_EQ(decode_tuning(TunerType::rda5815, rda)->frequency_khz, uint32_t(mhz) * 1000);
    ASSERT_EQ(decode_tuning(TunerType::type0, type0)->frequency_khz, uint32_t(mhz) * 1000);
  }
}

// Transponders at 1550 MHz (27500 ksps: +/-13750 kHz) and 1570 MHz (2000 ksps: +/-1000 kHz).
TEST(TunerModel, ReceivesTheNearestTransponderWithinItsCaptureRange) {
  Signal wide;
  wide.carrier_offset_khz = 1250;
  Signal narrow = wide;
  narrow.symbol_rate_ksps = 2000;
  narrow.standard = Standard::dvbs;
  const Transponder transponders[] = {{1550000, wide}, {1570000, narrow}};
  const struct {
    std::optional<uint32_t> tuned_khz;
    bool locked;
    Standard standard;
    double carrier_offset_khz;
  } cases[] = {
      {1550000, true, Standard::dvbs2, 1250},       {1563750, true, Standard::dvbs2, -12500},
      {1536250, true, Standard::dvbs2, 15000},      {1536249, false, Standard::dvbs2, 1250},
      {1569000, true, Standard::dvbs, 2250},        {1571000, true, Standard::dvbs, 250},
      {1571001, false, Standard::dvbs2, 1250},      {1200000, false, Standard::dvbs2, 1250},
      {std::nullopt, false, Standard::dvbs2, 1250},
  };
  for (const auto& c : cases) {
    const auto tuning = c.tuned_khz ? std::optional(Tuning{*c.tuned_khz, 36000}) : std::nullopt;
    const Signal s = received_signal(transponders, tuning);
    EXPECT_EQ(s.locked, c.locked) << c.tuned_khz.value_or(0);
    EXPECT_EQ(s.standard, c.standard) << c.tuned_khz.value_or(0);
    EXPECT_EQ(s.carrier_offset_khz, c.carrier_offset_khz) << c.tuned_khz.value_or(0);
    EXPECT_EQ(s.power_dbm, c.locked ? -39.4 : -89.85) << c.tuned_khz.value_or(0);
  }
}

// Stated registers win among those the signal determines; what the tool wrote elsewhere stays.
TEST(TunerModel, StatedRegistersWinOverTheSignal) {
  RegisterFile r{};
  r[0x33] = 0x02;
  const RegisterValue stated[] = {{0x2C, 0x01}, {0x33, 0x00}, {0x5C, 0x55}};
  apply_reception(Signal{}, stated, r);
  EXPECT_EQ((std::vector<uint8_t>{r[0x2C], r[0x33], r[0x5C], r[0x7E]}),
            (std::vector<uint8_t>{0x01, 0x02, 0x55, 0x97}));
}

}  // namespace
}  // namespace demodctl::sim
