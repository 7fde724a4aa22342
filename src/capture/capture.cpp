#include "capture/capture.h"

#include "bus/poll.h"
#include "bus/reg_rows.h"

namespace demodctl {
namespace {

constexpr uint8_t kRegFormat = 0x2F;   // 0x7C: 8-bit samples, 0x30: 9-bit samples
constexpr uint8_t kRegAgc = 0x37;      // 0x37..0x38; 0x38 bit 7 is the ready flag
constexpr uint8_t kRegControl = 0xEA;  // 0x20 starts a capture; 0x40 or more: complete
constexpr uint8_t kRegData = 0xEF;     // the data port, one byte per read
constexpr uint8_t kReadyFlag = 0x80;
constexpr uint8_t kCompleteFrom = 0x40;
constexpr int kPollMs = 5;

// The capture window and its 16-entry table; 0xE8..0xE9 hold 0x0800 = 2048, the number of sample
// words, little-endian.
constexpr RegRow kWindow[] = {
    {0xE0, {0x00, 0x00, 0x01, 0x00, 0x00}},
    {0xE5, {0x00, 0x00, 0x01}},
    {0xEB, {0x00, 0x00}},
    {0xE8, {0x00, 0x08}},
};
// Register 0xF0 + i receives i, one write each, in ascending order.
constexpr RegRow kTable[] = {
    {0xF0, {0x00}}, {0xF1, {0x01}}, {0xF2, {0x02}}, {0xF3, {0x03}}, {0xF4, {0x04}}, {0xF5, {0x05}},
    {0xF6, {0x06}}, {0xF7, {0x07}}, {0xF8, {0x08}}, {0xF9, {0x09}}, {0xFA, {0x0A}}, {0xFB, {0x0B}},
    {0xFC, {0x0C}}, {0xFD, {0x0D}}, {0xFE, {0x0E}}, {0xFF, {0x0F}},
};
// Clear, then start the capture, each followed by 5 ms.
constexpr RegRow kStart[] = {{kRegControl, {0x00}, kPollMs}, {kRegControl, {0x20}, kPollMs}};
constexpr RegRow kStop[] = {{0xED, {0x00, 0x00}}};

}  // namespace

Fault run_capture(Transport& bus, SampleFormat format) {
  const uint8_t format_value = format == SampleFormat::eight_bit ? 0x7C : 0x30;
  const RegRow format_row[] = {{kRegFormat, {format_value}}};
  for (const std::span<const RegRow> rows :
       {std::span<const RegRow>(kWindow), {format_row}, {kTable}}) {
    if (const Fault fault = write_demod_rows(bus, rows)) return fault;
  }
  // Ready: bit 7 of the second byte of 0x37..0x38; the first byte does not count.
  std::array<uint8_t, 2> agc{};
  if (const Fault fault =
          poll_register(bus, {kRegAgc, kPollMs, PollOrder::wait_then_read}, agc,
                        [](std::span<const uint8_t> b) { return (b[1] & kReadyFlag) != 0; })) {
    return fault;
  }
  if (const Fault fault = write_demod_rows(bus, kStart)) return fault;
  uint8_t control = 0;
  if (const Fault fault = poll_register(
          bus, {kRegControl, kPollMs, PollOrder::wait_then_read}, std::span(&control, 1),
          [](std::span<const uint8_t> b) { return b[0] >= kCompleteFrom; })) {
    return fault;
  }
  return write_demod_rows(bus, kStop);
}

Fault fetch_capture(Transport& bus, CaptureBuffer& capture) {
  return bus.read_period(kRegData, capture);
}

}  // namespace demodctl
