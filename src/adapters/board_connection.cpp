#include "adapters/board_connection.h"

#include <array>

#include "adapters/bus_choice.h"
#include "bus/reg_client.h"
#include "bus/socket_transport.h"
#include "bus/usb_bridge.h"
#include "bus/usb_transport.h"
#include "demod/field_access.h"

namespace demodctl {
namespace {

constexpr int kRegAddrLen = 1;  // register addresses are one byte wide
constexpr int kBridgeIndex = 0;

// The client, keeping the status of the last register call so a write refused for a read-only
// server can be told from any other refusal.
class StatusKeepingClient : public RegisterServerCalls {
 public:
  explicit StatusKeepingClient(const RunSettings& settings) : client_(settings) {}
  int init_sock(const char* host, int port) override { return client_.init_sock(host, port); }
  int set_i2c_speed(int channel, int speed) override {
    return client_.set_i2c_speed(channel, speed);
  }
  int read_reg_multi(int channel, int address, int reg, int reg_len, uint8_t* buf,
                     int count) override {
    return keep(client_.read_reg_multi(channel, address, reg, reg_len, buf, count));
  }
  int write_reg_multi(int channel, int address, int reg, int reg_len, const uint8_t* data,
                      int count) override {
    return keep(client_.write_reg_multi(channel, address, reg, reg_len, data, count));
  }
  int read_reg_period(int channel, int address, int reg, int reg_len, uint8_t* buf, int item_len,
                      int total, int burst) override {
    return keep(
        client_.read_reg_period(channel, address, reg, reg_len, buf, item_len, total, burst));
  }
  int deinit_sock() override { return client_.deinit_sock(); }
  Result<void> last_call_result() const override { return client_.last_call_result(); }

  bool connected() const { return client_.connected(); }
  int last_status() const { return last_; }

 private:
  int keep(int rc) {
    last_ = rc;
    return rc;
  }
  RegClient client_;
  int last_ = 0;
};

}  // namespace

struct BoardConnection::Parts {
  std::unique_ptr<StatusKeepingClient> client;
  std::unique_ptr<UsbBridge> bridge;
  std::unique_ptr<Transport> transport;
};

BoardConnection::BoardConnection(const BoardTarget& target, const RunSettings& settings)
    : parts_(std::make_unique<Parts>()) {
  if (target.usb) {
    const std::string bus = target.bus;
    parts_->bridge = std::make_unique<UsbBridge>(
        [bus] { return open_chosen_bus(parse_bus_choice(bus.c_str()), kSysfsRoot); }, settings);
    parts_->transport = std::make_unique<UsbTransport>(target.device, *parts_->bridge);
  } else {
    parts_->client = std::make_unique<StatusKeepingClient>(settings);
    parts_->transport = std::make_unique<SocketTransport>(target.device, *parts_->client);
  }
}

BoardConnection::~BoardConnection() { close(); }

bool BoardConnection::open() {
  close();
  open_ = parts_->transport->open_connection().has_value();
  return up();
}

void BoardConnection::close() {
  if (open_) parts_->transport->close_connection();
  open_ = false;
}

bool BoardConnection::up() const {
  if (!open_) return false;
  return parts_->client ? parts_->client->connected() : parts_->bridge->is_open();
}

Transport& BoardConnection::transport() { return *parts_->transport; }

bool BoardConnection::probe(int address) {
  std::array<uint8_t, 1> byte{};
  if (parts_->bridge) {
    const auto address_byte = static_cast<uint8_t>(address);
    return parts_->bridge->stream_i2c(kBridgeIndex, 1, &address_byte, 1, byte.data()) != 0;
  }
  const int channel = parts_->transport->demod().channel;
  return parts_->client->read_reg_multi(channel, address, 0, kRegAddrLen, byte.data(), 1) == 0;
}

bool BoardConnection::refused_read_only() const {
  return parts_->client &&
         parts_->client->last_status() == static_cast<int>(wire::Status::kReadOnly);
}

}  // namespace demodctl
