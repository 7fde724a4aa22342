#include "bus/i2c_device.h"
#include "cli/handlers.h"
#include "cli/result_line.h"

namespace demodctl {

// Reports which transport the flag selects; opens no connection.
int32_t print_conn(int, char**) {
  if (TransportMode != 0) {
    print_result(kMsgOk, 1);
  } else {
    print_result(kMsgOkComma, 0);
  }
  return 0;
}

}  // namespace demodctl
