#include "monitor/config_file.h"

#include <toml++/toml.h>

#include <set>

#include "files/safe_open.h"
#include "monitor/board_target.h"
#include "monitor/option_bounds.h"
#include "option_values/option_values.h"

namespace demodctl::monitor {
namespace {

// Reads the values of the file's keys; the first error found is kept, with its line.
class Reader {
 public:
  explicit Reader(const std::string& path) : path_(path) {}
  const std::string& problem() const { return error_; }

  void fail(const toml::node& node, const std::string& key, const std::string& what) {
    if (!error_.empty()) return;
    error_ = path_ + ":" + std::to_string(node.source().begin.line) + ": " + key + ": " + what;
  }

  std::optional<uint64_t> number(const toml::node& node, const std::string& key, uint64_t min,
                                 uint64_t max) {
    const auto value = node.value_exact<int64_t>();
    if (value && *value >= 0 && static_cast<uint64_t>(*value) >= min &&
        static_cast<uint64_t>(*value) <= max) {
      return static_cast<uint64_t>(*value);
    }
    fail(node, key,
         "needs a whole number from " + std::to_string(min) + " to " + std::to_string(max));
    return std::nullopt;
  }

  std::optional<bool> flag(const toml::node& node, const std::string& key) {
    const auto value = node.value_exact<bool>();
    if (!value) fail(node, key, "needs true or false");
    return value;
  }

  std::optional<std::string> text(const toml::node& node, const std::string& key) {
    const auto value = node.value_exact<std::string>();
    if (value && !value->empty()) return value;
    fail(node, key, "needs a text in quotes, not empty");
    return std::nullopt;
  }

  // An array of texts; `check` looks at each one (an error names the element's line).
  template <typename Check>
  std::optional<std::vector<std::string>> texts(const toml::node& node, const std::string& key,
                                                Check check) {
    const toml::array* array = node.as_array();
    if (array == nullptr) {
      fail(node, key, "needs an array of texts: [\"...\", \"...\"]");
      return std::nullopt;
    }
    std::vector<std::string> out;
    for (const toml::node& element : *array) {
      const auto value = text(element, key);
      if (!value) return std::nullopt;
      const std::string problem = check(*value);
      if (!problem.empty()) {
        fail(element, key, problem);
        return std::nullopt;
      }
      out.push_back(*value);
    }
    return out;
  }

 private:
  const std::string& path_;
  std::string error_;
};

// ADDR:PORT or [IPV6]:PORT, as --http takes it; the address itself is checked when the page
// starts listening.
std::string listen_problem(const std::string& text) {
  const size_t colon = text.rfind(':');
  const bool bracketed = !text.empty() && text.front() == '[';
  const bool host_ok = colon != std::string::npos && colon > 0 &&
                       (!bracketed || (colon > 2 && text[colon - 1] == ']'));
  if (host_ok && whole_number(std::string_view(text).substr(colon + 1), 0, kMaxPort)) return "";
  return "needs ADDR:PORT (PORT 0.." + std::to_string(kMaxPort) + "), not '" + text + "'";
}

std::string no_problem(const std::string&) { return ""; }

void read_http(Reader& r, const toml::table& table, MonitorConfig& c) {
  for (const auto& [key, node] : table) {
    const std::string name = "http." + std::string(key.str());
    if (key == "listen") {
      if (const auto v = r.text(node, name)) {
        const std::string problem = listen_problem(*v);
        if (problem.empty()) {
          c.http_listen = *v;
        } else {
          r.fail(node, name, problem);
        }
      }
    } else if (key == "allow") {
      c.http_allow = r.texts(node, name, no_problem);
    } else {
      r.fail(node, name, "unknown key (the keys of [http]: listen, allow)");
    }
  }
}

void read_captures(Reader& r, const toml::table& table, MonitorConfig& c) {
  for (const auto& [key, node] : table) {
    const std::string name = "captures." + std::string(key.str());
    if (key == "allowed") {
      c.captures_allowed = r.flag(node, name);
    } else if (key == "every") {
      c.capture_every = r.number(node, name, 0, kMaxCount);
    } else if (key == "dir") {
      c.capture_dir = r.text(node, name);
    } else {
      r.fail(node, name, "unknown key (the keys of [captures]: allowed, every, dir)");
    }
  }
}

void read_boards(Reader& r, const toml::node& node, MonitorConfig& c) {
  std::set<std::string> names;
  const auto boards = r.texts(node, "boards", [&names](const std::string& text) {
    const auto target = parse_board_option(text);
    if (!target) return target.error().cause;
    if (!names.insert(target->name).second) return "board " + target->name + " given twice";
    return std::string();
  });
  if (boards && boards->empty()) r.fail(node, "boards", "needs at least one board");
  if (boards) c.boards = *boards;
}

}  // namespace

LoadedConfig parse_monitor_config(const std::string& path, std::string_view text) {
  LoadedConfig loaded;
  toml::table root;
  try {
    root = toml::parse(text, path);
  } catch (const toml::parse_error& e) {
    loaded.error = path + ":" + std::to_string(e.source().begin.line) + ": " +
                   one_line(std::string(e.description()));
    return loaded;
  }
  Reader r(path);
  MonitorConfig c;
  for (const auto& [key, node] : root) {
    const std::string name(key.str());
    const toml::table* table = node.as_table();
    if (name == "boards") {
      read_boards(r, node, c);
    } else if (name == "interval") {
      c.interval_ms = r.number(node, name, kMinIntervalMs, kMaxIntervalMs);
    } else if (name == "count") {
      c.count = r.number(node, name, 0, kMaxCount);
    } else if (name == "json") {
      c.json = r.flag(node, name);
    } else if (name == "http" && table != nullptr) {
      read_http(r, *table, c);
    } else if (name == "captures" && table != nullptr) {
      read_captures(r, *table, c);
    } else if (name == "http" || name == "captures") {
      r.fail(node, name, "needs a table: [" + name + "]");
    } else {
      r.fail(node, name,
             "unknown key (the keys: boards, interval, count, json, [http], [captures])");
    }
  }
  if (r.problem().empty()) {
    loaded.config = std::move(c);
  } else {
    loaded.error = r.problem();
  }
  return loaded;
}

LoadedConfig load_monitor_config(const std::string& path) {
  const Result<std::string> text = read_small_file(path, kMaxConfigBytes);
  if (!text) {
    LoadedConfig loaded;
    loaded.error = path + ": " + text.error().cause;
    return loaded;
  }
  return parse_monitor_config(path, *text);
}

}  // namespace demodctl::monitor
