// The tuning read back from tuner registers, and the transponder it receives.
#include "sim/tuner_model.h"

#include <gtest/gtest.h>

#include "tuner/rda5815.h"
#include "tuner/tuner0.h"

namespace demodctl::sim {
namespace {

using Writes = std::vector<std::pair<uint8_t, std::vector<uint8_t>>>;

RegisterFile registers(const Writes& writes) {
  RegisterFile r{};
  for (const auto& [reg, bytes] : writes) std::copy(bytes.begin(), bytes.end(), r.begin() + reg);
  return r;
}

TEST(TunerModel, DecodesTheTuning) {
  const auto rda = TunerType::rda5815;
  const auto t0 = TunerType::type0;
  const std::tuple<TunerType, Writes, std::optional<Tuning>> cases[] = {
      {rda,
       {{0x07, {8, 0x12, 0xA8, 0xA6, 0x5C}}, {0x04, {0xC3}}, {0x2B, {0x97}}},
       {{1550000, 35556}}},
      {rda, {{0x07, {8, 0x12, 0xA8, 0xA6, 0x5C}}, {0x04, {0xC3}}, {0x2B, {0x95}}}, {}},
      {t0, {{0x00, {0x23, 0x2F, 0x68, 0xD0, 0, 108}}, {0x25, {0x06}}}, {{950000, 35887}}},
      {t0, {{0x00, {0x38, 0x8E, 0x39, 0xD0}}, {0x25, {0x06}}}, {{1500000, 0}}},
      {t0, {{0x00, {0x39, 0x68, 0x4B, 0x50}}, {0x25, {0x00}}}, {}},
  };
  for (const auto& [type, writes, tuning] : cases) {
    EXPECT_EQ(decode_tuning(type, registers(writes)), tuning) << int(writes[0].second[0]);
  }
  // What the drivers write for every MHz of the band reads back as that frequency.
  for (int32_t mhz = 950; mhz <= 2150; ++mhz) {
    const uint32_t w = rda5815_freq_word(mhz);
    const auto synth = tuner0_synth_bytes(mhz);
    const Writes rda_writes = {
        {0x07, {uint8_t(w >> 24), uint8_t(w >> 16), uint8_t(w >> 8), uint8_t(w)}},
        {0x04, {0xC3}},
        {0x2B, {0x97}}};
    const Writes t0_writes = {{0x00, {synth.begin(), synth.end()}}, {0x25, {0x06}}};
    ASSERT_EQ(decode_tuning(rda, registers(rda_writes)).value().frequency_khz,
              uint32_t(mhz) * 1000);
    ASSERT_EQ(decode_tuning(t0, registers(t0_writes)).value().frequency_khz, uint32_t(mhz) * 1000);
  }
}

// Transponders at 1550 MHz (27500 ksps: +/-13750 kHz) and 1570 MHz (DVB-S, 2000 ksps: +/-1000).
TEST(TunerModel, ReceivesTheNearestTransponderWithinItsCaptureRange) {
  Signal wide;
  wide.carrier_offset_khz = 1250;
  Signal narrow = wide;
  narrow.symbol_rate_ksps = 2000;
  narrow.standard = Standard::dvbs;
  const Transponder transponders[] = {{1550000, wide}, {1570000, narrow}};
  const std::tuple<std::optional<uint32_t>, bool, Standard, double> cases[] = {
      {1550000, true, Standard::dvbs2, 1250},      {1563750, true, Standard::dvbs2, -12500},
      {1536250, true, Standard::dvbs2, 15000},     {1536249, false, Standard::dvbs2, 1250},
      {1569000, true, Standard::dvbs, 2250},       {1571000, true, Standard::dvbs, 250},
      {1571001, false, Standard::dvbs2, 1250},     {1200000, false, Standard::dvbs2, 1250},
      {std::nullopt, false, Standard::dvbs2, 1250}};
  for (const auto& [khz, locked, standard, carrier] : cases) {
    const Signal s = received_signal(
        transponders, khz ? std::optional(Tuning{*khz, 36000}) : std::optional<Tuning>());
    EXPECT_EQ(std::tuple(s.locked, s.standard, s.carrier_offset_khz, s.power_dbm),
              std::tuple(locked, standard, carrier, locked ? -39.4 : -89.85))
        << khz.value_or(0);
  }
}

}  // namespace
}  // namespace demodctl::sim
