#include "cli/print_conn.h"

#include "cli/result_line.h"

namespace demodctl {

// "ok" with 1 for the register server, "ok," with 0 for the USB bridge.
int32_t print_conn(Transport&, CommandArgs) {
  if (TransportMode != 0) {
    print_result(kMsgOk, 1);
  } else {
    print_result(kMsgOkComma, 0);
  }
  return 0;
}

}  // namespace demodctl
