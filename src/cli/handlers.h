// The command handlers, one per row of the command table.
#pragma once

#include <cstdint>

namespace demodctl {

int32_t print_conn(int argc, char** argv);

int32_t on_line(int argc, char** argv);
int32_t agc_ok(int argc, char** argv);
int32_t cbs_ok(int argc, char** argv);
int32_t tr_ok(int argc, char** argv);
int32_t sync_ok(int argc, char** argv);
int32_t cr_ok(int argc, char** argv);
int32_t fec_ok(int argc, char** argv);

int32_t chip_init(int argc, char** argv);
int32_t hot_rst(int argc, char** argv);
int32_t dvb_standard(int argc, char** argv);

}  // namespace demodctl
