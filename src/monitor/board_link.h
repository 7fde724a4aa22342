// One board's connection, kept open between samples: its own register-server client or USB bridge
// (never shared with another board, so one board's dead server cannot hold another's calls) and
// the transport over it.
#pragma once

#include <memory>

#include "bus/reg_client.h"
#include "bus/run_settings.h"
#include "bus/transport.h"
#include "bus/usb_bridge.h"
#include "monitor/board_target.h"

namespace demodctl::monitor {

class BoardLink {
 public:
  // `settings`: the reply timeout, trace and verbosity of the run (bus/run_settings.h).
  explicit BoardLink(const BoardTarget& target, const RunSettings& settings = {});
  ~BoardLink();
  BoardLink(const BoardLink&) = delete;
  BoardLink& operator=(const BoardLink&) = delete;

  // Opens the connection (the server's client connects, the bridge opens its bus); true when it
  // is up.
  bool open();
  void close();
  // The connection is up: the client is connected, the bridge open.
  bool up() const;
  Transport& transport() { return *transport_; }

 private:
  std::unique_ptr<RegClient> client_;
  std::unique_ptr<UsbBridge> bridge_;
  std::unique_ptr<Transport> transport_;
  bool open_ = false;
};

}  // namespace demodctl::monitor
