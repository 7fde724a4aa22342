#include "bus/usb_bridge.h"

#include <algorithm>
#include <cstring>
#include <span>
#include <utility>

#include "bus/verbose.h"

namespace demodctl {
namespace {

// The only device index the bridge has.
constexpr int kDeviceIndex = 0;
// The trace shows the bridge as channel 0, like a single-channel server.
constexpr int kTraceChannel = 0;
constexpr int kOpenFailed = -1;
constexpr int kOpened = 0;
constexpr int kCallFailed = 0;
constexpr int kCallDone = 1;

// "USB bridge: read 0xD2 register 0x2C: no acknowledge": which message the bus did not carry.
void report_transfer_failure(bool verbose, uint8_t address_byte, std::span<const uint8_t> tx,
                             bool reads, const Result<void>& result) {
  if (!verbose) return;
  std::string why =
      std::string("USB bridge: ") + (reads ? "read " : "write ") + hex_text(address_byte);
  if (!tx.empty()) why += " register " + hex_text(tx[0]);
  why += result.error().kind == FaultKind::nack
             ? ": no acknowledge (NACK)"
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

int UsbBridge::open_device(int index) {
  if (index != kDeviceIndex) return kOpenFailed;
  if (is_open()) return kOpened;

  Result<std::unique_ptr<I2cBus>> bus = opener_ ? opener_() : Fault{FaultKind::open_error, ""};
  if (!bus || *bus == nullptr) {
    report_open_failure(settings_.verbose, bus ? "" : bus.error().cause);
    return kOpenFailed;
  }
  std::string error;
  if (!settings_.trace_path.empty()) {
    trace_ = TraceLog::create(settings_.trace_path, &error, TraceSource::usb);
    if (!trace_) {
      report_open_failure(settings_.verbose, error);
      return kOpenFailed;
    }
  }
  device_ = std::move(*bus);
  if (trace_) {
    traced_ = std::make_unique<TracingBus>(*device_, *trace_, kTraceChannel);
    bus_ = traced_.get();
  } else {
    bus_ = device_.get();
  }
  return kOpened;
}

int UsbBridge::set_stream(int index, int mode) {
  if (index != kDeviceIndex) return kCallFailed;
  stream_mode_ = mode;
  if (trace_) trace_->speed(kTraceChannel, mode, true);
  return is_open() ? kCallDone : kCallFailed;
}

int UsbBridge::stream_i2c(int index, int write_len, const uint8_t* write_buf, int read_len,
                          uint8_t* read_buf) {
  if (read_len > 0 && read_buf != nullptr) {
    std::memset(read_buf, 0, static_cast<size_t>(read_len));
  }
  last_result_ = kNotCalled;
  if (index != kDeviceIndex || !is_open()) return kCallFailed;
  if (write_len < 1 || write_buf == nullptr || read_len < 0 ||
      (read_len > 0 && read_buf == nullptr)) {
    return kCallFailed;
  }
  // The address byte carries the 7-bit address above the R/W bit.
  const auto addr7 = static_cast<uint8_t>(write_buf[0] >> 1);
  const std::span<const uint8_t> tx(write_buf + 1, static_cast<size_t>(write_len - 1));
  const std::span<uint8_t> rx(read_buf, static_cast<size_t>(read_len));
  last_result_ = bus_->transfer(addr7, tx, rx);
  if (last_result_) return kCallDone;
  report_transfer_failure(settings_.verbose, write_buf[0], tx, read_len > 0, last_result_);
  // Whatever a failed transfer left in the buffer, the caller sees zeros.
  std::fill(rx.begin(), rx.end(), uint8_t{0});
  return kCallFailed;
}

int UsbBridge::close_device(int index) {
  if (index != kDeviceIndex || !is_open()) return kCallFailed;
  release();
  return kCallDone;
}

void UsbBridge::release() {
  bus_ = nullptr;
  traced_.reset();
  trace_.reset();
  device_.reset();
}

}  // namespace demodctl
