#include "bus/usb_bridge.h"

#include <algorithm>
#include <span>
#include <utility>

#include "bus/verbose.h"

namespace demodctl {
namespace {

// The trace shows the bridge as channel 0, like a single-channel server.
constexpr int kTraceChannel = 0;
// The bridge is always device index 0.
constexpr int kDeviceIndex = 0;

// "USB bridge: read 0xD2 register 0x2C: no acknowledge": which message the bus did not carry.
void report_transfer_failure(bool verbose, uint8_t address_byte, std::span<const uint8_t> tx,
                             bool reads, const Fault& fault) {
  if (!verbose) return;
  std::string why =
      std::string("USB bridge: ") + (reads ? "read " : "write ") + hex_text(address_byte);
  if (!tx.empty()) why += " register " + hex_text(tx[0]);
  why += fault.kind == FaultKind::nack ? ": no acknowledge (NACK)"
                                       : ": transfer failed (the adapter could not carry it)";
  say_why(verbose, why);
}

}  // namespace

void report_open_failure(bool verbose, const std::string& reason) {
  say_why(verbose, "USB bridge: " + reason);
}

UsbBridge::UsbBridge(BusOpener opener, RunSettings settings)
    : opener_(std::move(opener)), settings_(std::move(settings)) {}

UsbBridge::~UsbBridge() = default;

Fault UsbBridge::open_failure(const std::string& reason) const {
  report_open_failure(settings_.verbose, reason);
  return Fault{FaultKind::open_error, "USB bridge " + std::to_string(kDeviceIndex)};
}

Result<void> UsbBridge::open(int speed) {
  if (is_open()) return {};

  Result<std::unique_ptr<I2cBus>> bus = opener_ ? opener_() : Fault{FaultKind::open_error, ""};
  if (!bus || *bus == nullptr) return open_failure(bus ? "" : bus.error().cause);
  if (!settings_.trace_path.empty()) {
    Result<std::unique_ptr<TraceLog>> trace =
        TraceLog::create(settings_.trace_path, TraceSource::usb);
    if (!trace) return open_failure(trace.error().cause);
    trace_ = std::move(*trace);
  }
  device_ = std::move(*bus);
  if (trace_) {
    traced_ = std::make_unique<TracingBus>(*device_, *trace_, kTraceChannel);
    bus_ = traced_.get();
  } else {
    bus_ = device_.get();
  }
  stream_mode_ = speed;
  if (trace_) trace_->speed(kTraceChannel, speed, true);
  return {};
}

Result<void> UsbBridge::transfer(uint8_t addr7, std::span<const uint8_t> tx,
                                 std::span<uint8_t> rx) {
  std::fill(rx.begin(), rx.end(), uint8_t{0});
  const Result<void> result = bus_->transfer(addr7, tx, rx);
  if (result) return result;
  // The address byte carries the 7-bit address above the R/W bit.
  report_transfer_failure(settings_.verbose, static_cast<uint8_t>(addr7 << 1), tx, !rx.empty(),
                          result.error());
  // Whatever a failed transfer left in the buffer, the caller sees zeros.
  std::fill(rx.begin(), rx.end(), uint8_t{0});
  return result;
}

void UsbBridge::close() {
  bus_ = nullptr;
  traced_.reset();
  trace_.reset();
  device_.reset();
}

}  // namespace demodctl
