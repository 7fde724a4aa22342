#include "cli/help.h"

namespace demodctl {
namespace {

constexpr const char* kUsage =
    "usage: demodctl HOST PORT CHANNEL SPEED ADDRESS [ARGS] COMMAND FLAG (FLAG nonzero: register "
    "server) | demodctl SPEED ADDRESS [ARGS] COMMAND 0 (USB bridge)\n";

// Every command of the command table with the arguments it takes between the transport's and its
// name (a test holds the two lists together).
constexpr const char* kHelp =
    "demodctl: test and debug tool for the satellite demodulator and its tuner\n"
    "\n"
    "  demodctl HOST PORT CHANNEL SPEED ADDRESS [ARGS] COMMAND FLAG   register server (FLAG != 0)\n"
    "  demodctl SPEED ADDRESS [ARGS] COMMAND 0                        USB bridge (i2c-dev)\n"
    "  demodctl -h|--help   demodctl -V|--version   demodctl --list-buses\n"
    "\n"
    "Numbers are decimal: ADDRESS 208 is the bus address byte 0xD0 (i2cdetect's 0x68 times 2).\n"
    "The outcome is printed as error=MESSAGE,return=VALUE without a newline.\n"
    "\n"
    "Commands ([ARGS] in brackets):\n"
    "  print_conn                 which transport the flag selects (opens nothing)\n"
    "  on_line                    1 when the chip answers with its identity, 0 when absent\n"
    "  agc_ok cbs_ok tr_ok sync_ok cr_ok fec_ok\n"
    "                             one lock flag of register 0x2C, 1 or 0\n"
    "  chip_init                  the start-up register sequence\n"
    "  hot_rst                    restart the acquisition\n"
    "  dvb_standard               the received standard and transmission mode, as text\n"
    "  [MODE] ad_smp              capture 2048 sample pairs into qv_ad_smp (MODE 1: 8-bit,\n"
    "                             else 9-bit; may be left out)\n"
    "  sig_str                    signal strength: input level in dBm plus 90 (0..80)\n"
    "  cn_read                    carrier-to-noise ratio in dB (-10.000000 without an estimate)\n"
    "  ber_calc                   bit error rate (0.500000 without lock)\n"
    "  lock_time                  acquisition time in ms (0 without lock)\n"
    "  carrier_err                carrier frequency offset in kHz (0 without lock)\n"
    "  symbol_err                 symbol rate offset in kHz (0.000000 without lock); its working\n"
    "                             goes to qv_debug_file\n"
    "  fft_print                  the 9-bit capture, written to qv_ad_smp and printed as {I,Q}#\n"
    "  [TUNER_CH TUNER_ADDR TYPE FREQ_MHZ BW_MHZ] tuner_set\n"
    "                             tune (TYPE 0: 27 MHz-reference tuner, 1: RDA5815); TUNER_CH is\n"
    "                             the server's channel, a place holder such as - on the bridge\n"
    "\n"
    "Environment:\n"
    "  DEMODCTL_I2C_BUS         the bridge's adapter: N, i2c-N, /dev/i2c-N, an adapter name, sim,\n"
    "                           sim:SCENARIO.json (unset: the first USB adapter)\n"
    "  DEMODCTL_NET_TIMEOUT_MS  the register server's reply bound (default 3000)\n"
    "  DEMODCTL_VERBOSE         any value: say on standard error why a run failed\n"
    "  DEMODCTL_TRACE           FILE or -: every bus operation as a JSON line\n"
    "                           (DEMODCTL_I2C_TRACE: its older name)\n"
    "\n"
    "Exit status:\n"
    "  0    the command ran to its end (also \"chip not connected, failed\")\n"
    "  255  a transport failure, a file that could not be written, or no standard output\n"
    "  2    a usage error (nothing on standard output)\n"
    "  other  an unknown command name: the strcmp difference from tuner_set, modulo 256\n";

}  // namespace

void print_usage(std::FILE* out) { std::fputs(kUsage, out); }

void print_help(std::FILE* out) { std::fputs(kHelp, out); }

}  // namespace demodctl
