#include "cli/print_conn.h"

#include "outcome/result_line.h"

namespace demodctl {

// "ok" with 1 for the register server, "ok," with 0 for the USB bridge.
Outcome print_conn(BoardBus&, const Invocation& command) {
  if (command.via == Via::server) return Reply{kMsgOk, 1};
  return Reply{kMsgOkComma, 0};
}

}  // namespace demodctl
