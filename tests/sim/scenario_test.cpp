#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>

#include "board_helpers.h"

namespace demodctl::test {
namespace {

using Bytes = std::vector<uint8_t>;

struct BadScenario {
  std::string text;
  const char* problem;  // must appear in the message
};

TEST(Scenario, MalformedInputsGiveNullAndOneLineMessage) {
  const BadScenario cases[] = {
      {"", "not JSON"},
      {"{", "not JSON"},
      {"not json at all", "not JSON"},
      {"[]", "top level: expected an object"},
      {"42", "expected an object"},
      {R"({"bogus": 1})", "unknown key 'bogus'"},
      {R"({"demod": {"adress": "0xD0"}})", "demod: unknown key 'adress'"},
      {R"({"demod": []})", "demod: expected an object"},
      {R"({"demod": {"address": "0xD1"}})", "must be even"},
      {R"({"demod": {"address": 256}})", "demod.address: expected a number from 0 to 255"},
      {R"({"demod": {"address": -2}})", "demod.address"},
      {R"({"demod": {"address": 2.5}})", "demod.address"},
      {R"({"demod": {"address": "0x"}})", "is not a number"},
      {R"({"demod": {"address": "0xZZ"}})", "is not a number"},
      {R"({"demod": {"address": "0x1000000000000000000"}})", "is not a number"},
      {R"({"demod": {"identity": "01 00 36"}})", "expected 4 hex bytes"},
      {R"({"demod": {"identity": "01 00 36 31 00"}})", "expected 4 hex bytes"},
      {R"({"demod": {"identity": "01 00 36 G1"}})", "demod.identity"},
      {R"({"demod": {"identity": [1, 0, 54]}})", "expected 4 bytes"},
      {R"({"demod": {"identity": 7}})", "expected 4 hex bytes"},
      {R"({"demod": {"registers": {"0x100": 1}}})", "expected a number from 0 to 255"},
      {R"({"demod": {"registers": {"0x2C": 300}}})", "demod.registers.0x2C"},
      {R"({"demod": {"registers": {"0x2C": null}}})", "got null"},
      {R"({"demod": {"registers": [1, 2]}})", "demod.registers: expected an object"},
      {R"({"tuners": {}})", "tuners: expected an array"},
      {R"({"tuners": [{"behind_repeater": true}]})", "missing 'address'"},
      {R"({"tuners": [{"address": "0xC0", "behind_repeater": "yes"}]})", "expected true or false"},
      {R"({"tuners": [{"address": "0xD0"}]})", "already used"},
      {R"({"tuners": [{"address": 192}, {"address": "0xC0"}]})", "tuners[1].address"},
      {R"({"tuners": [{"address": 2}, {"address": 4}, {"address": 6}, {"address": 8},
                      {"address": 10}]})",
       "at most 4 tuners"},
      {R"({"channels": []})", "expected 1 to 16 channels"},
      {R"({"channels": [0, 0]})", "listed twice"},
      {R"({"channels": [256]})", "channels[0]"},
      {R"({"acquisition_reads_per_stage": -1})", "acquisition_reads_per_stage"},
      {R"({"acquisition_reads_per_stage": 1e9})", "acquisition_reads_per_stage"},
      {R"({"faults": {"fail_ops": [0]}})", "faults.fail_ops[0]: expected a number from 1"},
      {R"({"faults": {"fail_ops": 5}})", "faults.fail_ops: expected an array"},
      {R"({"faults": {"explode": true}})", "unknown key 'explode'"},
      {R"({"faults": {"fail_registers": [{"address": "0xD0"}]}})", "missing 'register'"},
      {R"({"faults": {"stuck_low": [{"register": "0x38"}]}})", "needs 'register' and 'mask'"},
      {R"({"faults": {"stuck_low": [{"register": "0x38", "mask": 512}]}})", "stuck_low[0].mask"},
      {R"({"description": 5})", "description: expected a string"},
      {R"({"bad\nkey": 1})", "unknown key 'bad?key'"},
      {std::string(100, '[') + std::string(100, ']'), "nesting deeper than"},
  };
  for (const auto& c : cases) {
    std::string error;
    auto board = SimBoard::from_json_text(c.text, &error);
    EXPECT_FALSE(board) << c.text;
    EXPECT_NE(error.find(c.problem), std::string::npos) << c.text << " -> " << error;
    EXPECT_EQ(error.rfind("scenario: ", 0), 0U) << error;
    EXPECT_EQ(error.find('\n'), std::string::npos) << error;
  }
}

TEST(Scenario, HugeArrayIsRefused) {
  std::string text = R"({"faults": {"fail_ops": [1)";
  for (int i = 0; i < 300; ++i) text += ",1";
  text += "]}}";
  std::string error;
  EXPECT_FALSE(SimBoard::from_json_text(text, &error));
  EXPECT_NE(error.find("more than 256 entries"), std::string::npos) << error;
}

TEST(Scenario, FileErrorsNameTheFile) {
  const std::string dir = ::testing::TempDir();
  const std::string big = dir + "/sim_big.json";
  {
    std::ofstream out(big);
    out << "{\"description\": \"" << std::string(1024 * 1024, 'x') << "\"}";
  }
  const std::string broken = dir + "/sim_broken.json";
  { std::ofstream(broken) << "{\"demod\": {\"address\": \"0xD1\"}}"; }
  const std::pair<std::string, const char*> cases[] = {
      {dir + "/sim_does_not_exist.json", "cannot open"},
      {dir, "not a regular file"},
      {big, "larger than 1 MiB"},
      {broken, "must be even"},
  };
  for (const auto& [path, problem] : cases) {
    std::string error;
    EXPECT_FALSE(SimBoard::from_file(path, &error)) << path;
    EXPECT_EQ(error.rfind(path + ": ", 0), 0U) << error;
    EXPECT_NE(error.find(problem), std::string::npos) << error;
  }
  std::remove(big.c_str());
  std::remove(broken.c_str());
}

TEST(Scenario, DefaultFileMatchesDefaultBoard) {
  std::string error;
  auto from_file = SimBoard::from_file(SCENARIO_DIR "/dvbs2_locked.json", &error);
  ASSERT_TRUE(from_file) << error;
  auto builtin = SimBoard::make_default();
  for (int reg = 0; reg < 256; ++reg) {
    EXPECT_EQ(from_file->demod_reg(uint8_t(reg)), builtin->demod_reg(uint8_t(reg))) << reg;
  }
  EXPECT_EQ(from_file->channels(), builtin->channels());
}

struct FileStory {
  const char* file;
  Bytes identity;
  uint8_t lock;
  uint8_t mode_reg;  // 0x8E for DVB-S/DirecTV, 0x5C for DVB-S2
  uint8_t mode_value;
  bool tuner_direct;
};

TEST(Scenario, ShippedFilesTellConsistentStories) {
  const FileStory stories[] = {
      {"dvbs2_locked.json", {0x01, 0x00, 0x36, 0x31}, 0x3F, 0x5C, 0x39, false},
      {"dvbs_locked.json", {0x01, 0x00, 0x36, 0x31}, 0x37, 0x8E, 0x04, false},
      {"directv_locked.json", {0x01, 0x00, 0x36, 0x31}, 0x37, 0x8E, 0x0B, false},
      {"no_signal.json", {0x01, 0x00, 0x36, 0x31}, 0x00, 0x5C, 0x00, false},
      {"no_chip.json", {0x00, 0x00, 0x36, 0x30}, 0x00, 0x5C, 0x00, false},
      {"direct_tuner.json", {0x10, 0x01, 0x36, 0x31}, 0x3F, 0x5C, 0x39, true},
      {"faulty.json", {0x01, 0x00, 0x36, 0x31}, 0x3F, 0x5C, 0x39, false},
  };
  for (const auto& s : stories) {
    std::string error;
    auto board = SimBoard::from_file(std::string(SCENARIO_DIR "/") + s.file, &error);
    ASSERT_TRUE(board) << error;
    EXPECT_EQ(read(*board, kDemod, 0x6C, 4), s.identity) << s.file;
    EXPECT_EQ(read1(*board, 0x2C), s.lock) << s.file;
    EXPECT_EQ(read1(*board, s.mode_reg), s.mode_value) << s.file;
    EXPECT_EQ(write(*board, kTuner, 0x00, {0x01}), s.tuner_direct) << s.file;
  }
}

}  // namespace
}  // namespace demodctl::test
