#include "capture/capture.h"

#include <cerrno>
#include <cstring>
#include <string>

#include "bus/poll.h"
#include "bus/reg_rows.h"
#include "capture/sample_file.h"
#include "demod/register_map.h"

namespace demodctl {
namespace {

constexpr int kPollMs = 5;
constexpr uint8_t kControl = reg::capture_start.reg;  // start and completion share 0xEA

// The capture window and its 16-entry table. These registers are written only here, so the rows
// keep their numbers.
constexpr RegRow kWindow[] = {
    {0xE0, {0x00, 0x00, 0x01, 0x00, 0x00}},  // window setting, 0xE0..0xE4
    {0xE5, {0x00, 0x00, 0x01}},              // window setting, 0xE5..0xE7
    {0xEB, {0x00, 0x00}},                    // window setting, 0xEB..0xEC
    {0xE8, {0x00, 0x08}},                    // 0x0800 = 2048 sample words, little-endian
};
// Register 0xF0 + i receives i, one write each, in ascending order.
constexpr RegRow kTable[] = {
    {0xF0, {0x00}}, {0xF1, {0x01}}, {0xF2, {0x02}}, {0xF3, {0x03}}, {0xF4, {0x04}}, {0xF5, {0x05}},
    {0xF6, {0x06}}, {0xF7, {0x07}}, {0xF8, {0x08}}, {0xF9, {0x09}}, {0xFA, {0x0A}}, {0xFB, {0x0B}},
    {0xFC, {0x0C}}, {0xFD, {0x0D}}, {0xFE, {0x0E}}, {0xFF, {0x0F}},
};
// Clear, then start the capture, each followed by 5 ms.
constexpr RegRow kStart[] = {{kControl, {0x00}, kPollMs},
                             {kControl, {reg::capture_start.put(0, 1)}, kPollMs}};
constexpr RegRow kStop[] = {{0xED, {0x00, 0x00}}};  // capture unit stop, 2 bytes

}  // namespace

Result<void> run_capture(BoardBus& bus, SampleFormat format) {
  const uint8_t format_value =
      format == SampleFormat::eight_bit ? reg::kCaptureEightBit : reg::kCaptureNineBit;
  const RegRow format_row[] = {{reg::capture_format.reg, {format_value}}};
  for (const std::span<const RegRow> rows :
       {std::span<const RegRow>(kWindow), {format_row}, {kTable}}) {
    if (auto done = write_demod_rows(bus, rows); !done) return done.error();
  }
  // Ready: the AGC ready flag in the second byte of the AGC level; the first does not count.
  std::array<uint8_t, reg::agc_level.bytes()> agc{};
  if (auto done =
          poll_register(bus, {reg::agc_level.reg, kPollMs, PollOrder::wait_then_read}, agc,
                        [](std::span<const uint8_t> b) { return reg::agc_ready.set_in(b[1]); });
      !done) {
    return done.error();
  }
  if (auto done = write_demod_rows(bus, kStart); !done) return done.error();
  uint8_t control = 0;
  if (auto done =
          poll_register(bus, {kControl, kPollMs, PollOrder::wait_then_read}, std::span(&control, 1),
                        [](std::span<const uint8_t> b) { return reg::capture_done.set_in(b[0]); });
      !done) {
    return done.error();
  }
  return write_demod_rows(bus, kStop);
}

Fault sample_file_fault(const char* step) {
  return Fault{FaultKind::file,
               std::string(step) + " sample file " + kSampleFileName + ": " + std::strerror(errno)};
}

Result<void> fetch_capture(BoardBus& bus, CaptureBuffer& capture) {
  return bus.read_period(reg::capture_data.reg, capture);
}

}  // namespace demodctl
