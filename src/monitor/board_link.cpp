#include "monitor/board_link.h"

#include "adapters/bus_choice.h"
#include "bus/socket_transport.h"
#include "bus/usb_transport.h"

namespace demodctl::monitor {
BoardLink::BoardLink(const BoardTarget& target, const RunSettings& settings) {
  if (target.usb) {
    const std::string bus = target.bus;
    bridge_ = std::make_unique<UsbBridge>(
        [bus] { return open_chosen_bus(parse_bus_choice(bus.c_str()), kSysfsRoot); }, settings);
    transport_ = std::make_unique<UsbTransport>(target.device, *bridge_);
  } else {
    client_ = std::make_unique<RegClient>(settings);
    transport_ = std::make_unique<SocketTransport>(target.device, *client_);
  }
}

BoardLink::~BoardLink() { close(); }

bool BoardLink::open() {
  close();
  open_ = transport_->open_connection().has_value();
  return up();
}

void BoardLink::close() {
  if (open_) transport_->close_connection();
  open_ = false;
}

bool BoardLink::up() const {
  if (!open_) return false;
  return client_ ? client_->connected() : bridge_->is_open();
}

}  // namespace demodctl::monitor
