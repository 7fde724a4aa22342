// The one way a program gets from a board's name to an open connection to it: the register
// server's own client or a USB bridge on the named bus (never shared with another board, so one
// board's dead server cannot hold another's calls), and the transport over it.
#pragma once

#include <memory>

#include "adapters/board_name.h"
#include "bus/board_bus.h"
#include "bus/run_settings.h"

namespace demodctl {

class BoardConnection {
 public:
  // `settings`: the reply timeout, trace and verbosity of the run (bus/run_settings.h).
  explicit BoardConnection(const BoardTarget& target, const RunSettings& settings = {});
  ~BoardConnection();
  BoardConnection(const BoardConnection&) = delete;
  BoardConnection& operator=(const BoardConnection&) = delete;

  // Opens the connection (the server's client connects, the bridge opens its bus); true when it
  // is up.
  bool open();
  void close();
  // The connection is up: the client is connected, the bridge open.
  bool up() const;
  // The board's bus over the connection.
  BoardBus& bus();

  // One probe of `address` (the 8-bit address byte) on the board's channel: true when a device
  // acknowledged. The bridge reads one byte with no register pointer written first; the register
  // server knows only register reads, so there it reads register 0.
  bool probe(int address);

 private:
  struct Parts;
  std::unique_ptr<Parts> parts_;
  bool open_ = false;
};

}  // namespace demodctl
