// The real demodctl over the USB bridge path with the in-process simulated board.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <sstream>

#include "blackbox/scenario_text.h"
#include "support/process.h"

namespace demodctl::testing {
namespace {

ProcResult usb(const std::string& cmd, const std::string& bus, const std::string& trace = "") {
  std::vector<std::string> env = {"DEMODCTL_I2C_BUS=" + bus};
  if (!trace.empty()) env.push_back("DEMODCTL_I2C_TRACE=" + trace);
  return demodctl({"100", "208", cmd, "0"}, env);
}

TEST(UsbSim, SpineCommands) {
  struct Case {
    std::string bus;
    const char* cmd;
    const char* out;
  } cases[] = {
      {"sim", "on_line", "error=ok,return=1"},
      {"sim", "fec_ok", "error=ok,return=1"},
      {"sim", "dvb_standard", "error=ok,return=DVB-S2,8PSK+3/4,Normal Frame,PLT ON,Roll_off=0.35"},
      {"sim", "chip_init", "error=ok,return=1"},
      {"sim", "hot_rst", "error=ok,return=1"},
      {"sim:" + scenario_file(scenario_json("00 00 36 30", {})), "on_line", "error=ok,,return=0"},
      {"sim:" + scenario_file(scenario_json("00 00 36 30", {})), "hot_rst",
       "error=chip not connected, failed,return=1"},
      {"sim:" + scenario_file(scenario_json("00 00 36 31", {{"0x2C", "0x20"}})), "agc_ok",
       "error=ok,return=0"},
      {"sim:" + scenario_file(scenario_json("00 00 36 31", {{"0x2C", "0x20"}, {"0x8E", "0x0B"}})),
       "dvb_standard", "error=ok,return=Directv,6/7,Roll_off=0.2"},
      {"sim:" SCENARIO_DIR "/dvbs_locked.json", "dvb_standard",
       "error=ok,return=DVB-S,3/4,Roll_off=0.35"},
  };
  for (const auto& c : cases) {
    const ProcResult r = usb(c.cmd, c.bus);
    EXPECT_EQ(r.out, c.out) << c.cmd << " on " << c.bus;
    EXPECT_EQ(r.status, 0);
  }
}

TEST(UsbSim, NoAdapterIsAnOpenFailure) {
  for (const std::string bus : {"/dev/i2c-nonexistent", "sim:/nonexistent/scenario.json"}) {
    const ProcResult r = usb("on_line", bus);
    EXPECT_EQ(r.out, "error=err openerror,failed,return=-1") << bus;
    EXPECT_EQ(r.status, 255);
    EXPECT_EQ(r.err, "");  // the reason goes to stderr only with DEMODCTL_VERBOSE
  }
}

TEST(UsbSim, ChipInitTransactionsTraced) {
  const std::string trace = make_temp_dir() + "/trace.jsonl";
  EXPECT_EQ(usb("chip_init", "sim", trace).out, "error=ok,return=1");
  std::vector<std::string> seen;
  std::istringstream lines(read_file(trace));
  for (std::string line; std::getline(lines, line);) {
    const auto j = nlohmann::json::parse(line, nullptr, false);
    ASSERT_FALSE(j.is_discarded()) << line;
    if (j.value("op", "") == "speed") {
      seen.push_back("speed " + std::to_string(j.value("speed", -1)));
      continue;
    }
    seen.push_back(j.value("op", "") + " " + j.value("address", "") + " " + j.value("reg", "") +
                   " " + j.value("bytes", ""));
  }
  const std::vector<std::string> want = {
      "speed 100",          "read 0xD0 0x6C 01 00 36 31", "write 0xD0 0x0C 52",
      "write 0xD0 0x00 81", "write 0xD0 0x00 01",         "write 0xD0 0x05 81",
      "write 0xD0 0x05 01", "write 0xD0 0x04 04",         "write 0xD0 0x09 0E",
      "write 0xD0 0x0C 42", "write 0xD0 0x0A 5A",         "write 0xD0 0x0A 4A",
      "write 0xD0 0xA8 80"};
  EXPECT_EQ(seen, want);
}

}  // namespace
}  // namespace demodctl::testing
