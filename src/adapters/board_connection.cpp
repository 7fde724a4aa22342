#include "adapters/board_connection.h"

#include <array>

#include "adapters/board_bus_factory.h"
#include "adapters/bus_choice.h"
#include "bus/reg_client.h"
#include "bus/usb_bridge.h"
#include "demod/field_access.h"

namespace demodctl {
struct BoardConnection::Parts : TransportLibraries {
  RegisterServer& register_server() override { return *client; }
  I2cBridge& usb_bridge() override { return *bridge; }

  std::unique_ptr<RegClient> client;
  std::unique_ptr<UsbBridge> bridge;
  std::unique_ptr<BoardBus> bus;  // the board's bus over whichever of the two
};

BoardConnection::BoardConnection(const BoardTarget& target, const RunSettings& settings)
    : parts_(std::make_unique<Parts>()) {
  if (target.usb) {
    const std::string bus = target.bus;
    parts_->bridge = std::make_unique<UsbBridge>(
        [bus] { return open_chosen_bus(parse_bus_choice(bus.c_str()), kSysfsRoot); }, settings);
  } else {
    parts_->client = std::make_unique<RegClient>(settings);
  }
  parts_->bus = make_board_bus(target.usb ? Via::bridge : Via::server, target.device, *parts_);
}

BoardConnection::~BoardConnection() { close(); }

bool BoardConnection::open() {
  close();
  open_ = parts_->bus->open_connection().has_value();
  return up();
}

void BoardConnection::close() {
  if (open_) parts_->bus->close_connection();
  open_ = false;
}

bool BoardConnection::up() const {
  if (!open_) return false;
  return parts_->client ? parts_->client->connected() : parts_->bridge->is_open();
}

BoardBus& BoardConnection::bus() { return *parts_->bus; }

bool BoardConnection::probe(int address) {
  std::array<uint8_t, 1> byte{};
  if (parts_->bridge) {
    // The bus takes the 7-bit address above the R/W bit of the address byte.
    const auto addr7 = static_cast<uint8_t>((address & 0xFF) >> 1);
    I2cBus* bus = parts_->bridge->bus();
    return bus != nullptr && bus->transfer(addr7, {}, byte).has_value();
  }
  const int channel = parts_->bus->demod().channel;
  return parts_->client->read_regs({channel, address, 0}, byte).has_value();
}

// A refusal of a read-only server reaches the caller as the fault's kind (FaultKind::read_only);
// the connection keeps nothing beside it.

}  // namespace demodctl
