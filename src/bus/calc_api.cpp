#include "bus/calc_api.h"

#include "bus/default_backends.h"

namespace demodctl {
namespace {
CalcBackend* g_calc = nullptr;
CalcBackend& calc() { return g_calc != nullptr ? *g_calc : default_calc_backend(); }
}  // namespace

void set_calc_backend(CalcBackend* backend) { g_calc = backend; }

int InitSock(const char* host, int port) { return calc().init_sock(host, port); }
int seti2cspeed(int channel, int speed) { return calc().set_i2c_speed(channel, speed); }
int ReadregMulti(int channel, int address, int reg, int reg_len, uint8_t* buf, int count) {
  return calc().read_reg_multi(channel, address, reg, reg_len, buf, count);
}
int WriteregMulti(int channel, int address, int reg, int reg_len, const uint8_t* data, int count) {
  return calc().write_reg_multi(channel, address, reg, reg_len, data, count);
}
int ReadregPeriod(int channel, int address, int reg, int reg_len, uint8_t* buf, int item_len,
                  int total, int burst) {
  return calc().read_reg_period(channel, address, reg, reg_len, buf, item_len, total, burst);
}
int DeinitSock() { return calc().deinit_sock(); }

}  // namespace demodctl
