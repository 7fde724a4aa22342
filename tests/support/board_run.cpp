#include "support/board_run.h"

#include <nlohmann/json.hpp>
#include <optional>
#include <sstream>

#include "support/temp_dir.h"

namespace demodctl::testing {
namespace {

constexpr size_t kLongRun = 16;  // reads of one register summed up by a hash from this many on

struct TraceOp {
  std::string line;  // the whole operation, as printed when alone
  std::string key;   // "r D0 EF" for a read that succeeded, else empty
  std::string data;  // the bytes it read
};

std::string hex_digits(const std::string& json_hex) {  // "0xD0" -> "D0"
  return json_hex.starts_with("0x") ? json_hex.substr(2) : json_hex;
}

TraceOp to_op(const nlohmann::json& j) {
  const std::string channel = j.value("channel", 0) != 0 ? "ch" + j["channel"].dump() + " " : "";
  const std::string op = j.value("op", "");
  if (op == "speed") return {channel + "speed " + j["speed"].dump(), "", ""};
  const std::string reg = j["reg"].is_string() ? hex_digits(j["reg"]) : "--";
  const std::string head =
      channel + (op == "read" ? "r " : "w ") + hex_digits(j.value("address", "")) + " " + reg;
  const std::string bytes = j.value("bytes", "");
  const bool ok = j.value("result", "") == "ok";
  if (op == "read") return {head + (ok ? " -> " + bytes : " nack"), ok ? head : "", bytes};
  return {head + (bytes.empty() ? "" : " " + bytes) + (ok ? "" : " nack"), "", ""};
}

}  // namespace

std::string fnv1a_hex(const std::string& text) {
  constexpr uint32_t kOffsetBasis = 2166136261u;
  constexpr uint32_t kPrime = 16777619u;
  uint32_t hash = kOffsetBasis;
  for (const unsigned char c : text) hash = (hash ^ c) * kPrime;
  char hex[9];
  std::snprintf(hex, sizeof hex, "%08x", hash);
  return hex;
}

std::string compact_trace(const std::string& jsonl) {
  std::vector<TraceOp> ops;
  std::istringstream lines(jsonl);
  for (std::string line; std::getline(lines, line);) {
    const auto j = nlohmann::json::parse(line, nullptr, false);
    ops.push_back(j.is_object() ? to_op(j) : TraceOp{"? " + line, "", ""});
  }
  std::string out;
  for (size_t i = 0; i < ops.size();) {
    size_t same_reg = i;
    bool data_changes = false;
    while (same_reg < ops.size() && !ops[i].key.empty() && ops[same_reg].key == ops[i].key) {
      data_changes = data_changes || ops[same_reg].data != ops[i].data;
      ++same_reg;
    }
    if (same_reg - i >= kLongRun && data_changes) {
      std::string data;
      for (size_t k = i; k < same_reg; ++k) data += ops[k].data + " ";
      out += ops[i].key + " -> .. x" + std::to_string(same_reg - i) + " fnv1a=" + fnv1a_hex(data) +
             "\n";
      i = same_reg;
      continue;
    }
    size_t same = i + 1;
    while (same < ops.size() && ops[same].line == ops[i].line) ++same;
    out += ops[i].line + (same - i > 1 ? " x" + std::to_string(same - i) : "") + "\n";
    i = same;
  }
  return out;
}

BoardRun run_on_board(Via via, const std::string& scenario, const std::vector<std::string>& own,
                      const std::string& command, const std::string& cwd,
                      const std::vector<std::string>& env) {
  const TempDir traces;
  const std::string trace = traces.path() + "/trace.jsonl";
  std::optional<ServerProcess> server;
  std::vector<std::string> args = {"100", "208"};
  std::vector<std::string> run_env = env;
  if (via == Via::socket) {
    server.emplace(std::vector<std::string>{"--scenario", scenario, "--trace", trace});
    args = {"127.0.0.1", server->port_text(), "0", "100", "208"};
  } else {
    run_env.insert(run_env.end(),
                   {"DEMODCTL_I2C_BUS=sim:" + scenario, "DEMODCTL_I2C_TRACE=" + trace});
  }
  args.insert(args.end(), own.begin(), own.end());
  args.insert(args.end(), {command, via == Via::socket ? "1" : "0"});
  BoardRun run{demodctl(args, run_env, cwd), ""};
  server.reset();  // its trace complete
  run.trace = compact_trace(read_file(trace));
  return run;
}

}  // namespace demodctl::testing
