#include "regtool/request.h"

#include <algorithm>
#include <array>
#include <string_view>

namespace demodctl::regtool {
namespace {

constexpr int64_t kMaxByte = 0xFF;
constexpr int64_t kMaxRegisterCount = 256;
constexpr int64_t kMaxInterval = 3600000;  // an hour, in ms
constexpr int64_t kMaxFieldValue = 0xFFFFFFFF;

struct CommandName {
  std::string_view name;
  Command command;
};
constexpr std::array<CommandName, 6> kCommands = {{{"get", Command::get},
                                                   {"set", Command::set},
                                                   {"dump", Command::dump},
                                                   {"diff", Command::diff},
                                                   {"watch", Command::watch},
                                                   {"scan", Command::scan}}};

Fault fail(std::string message) { return Fault{FaultKind::usage, std::move(message)}; }

template <typename T>
Result<void> number(std::string_view text, std::string_view what, int64_t lo, int64_t hi, T& out) {
  const auto value = number_text(text, lo, hi);
  if (!value) {
    std::string message(what);
    message.append(" '").append(text).append("' is not a number from ");
    message.append(std::to_string(lo)).append(" to ").append(std::to_string(hi));
    message.append(" (decimal, or hex with 0x)");
    return fail(std::move(message));
  }
  out = static_cast<T>(*value);
  return {};
}

Result<void> selector(std::string_view text, Selector& out) {
  if (auto field = field_named(text)) {
    out.field = field;
    out.reg = field->reg;
    return {};
  }
  if (!text.empty() && (text.front() < '0' || text.front() > '9')) {
    std::string message = "'";
    message.append(text);
    message.append("' is neither a register number nor a name of the map");
    return fail(std::move(message));
  }
  return number(text, "register", 0, kMaxByte, out.reg);
}

// Options, wherever they stand; the other words in order into `rest`.
Result<void> options(const std::vector<std::string>& words, Request& r,
                     std::vector<std::string>& rest, bool& asked_about) {
  for (std::size_t i = 0; i < words.size(); ++i) {
    const std::string& w = words[i];
    const bool has_next = i + 1 < words.size();
    const auto value = [&](std::string_view what, int64_t lo, int64_t hi,
                           auto& out) -> Result<void> {
      if (!has_next) return fail(w + " needs " + std::string(what));
      return number(words[++i], what, lo, hi, out);
    };
    if (w == "-h" || w == "--help") {
      r.command = Command::help;
      asked_about = true;
      return {};
    }
    if (w == "-V" || w == "--version") {
      r.command = Command::version;
      asked_about = true;
      return {};
    }
    if (w == "-y" || w == "--yes") {
      r.yes = true;
    } else if (w == "--named") {
      r.named = true;
    } else if (w == "--json") {
      r.json = true;
    } else if (w == "--side-effects") {
      r.side_effects = true;
    } else if (w == "--tuner" && (!has_next || !number_text(words[i + 1], 0, kMaxByte))) {
      r.scan_tuner = true;  // scan --tuner takes no address
    } else if (w == "--tuner") {
      int32_t address = 0;
      if (Result<void> given = value("address", 0, kMaxByte, address); !given) return given;
      r.tuner = address;
    } else if (w == "--count") {
      uint64_t count = 0;
      if (Result<void> given = value("count", 1, INT64_MAX, count); !given) return given;
      r.watch_count = count;
    } else if (w == "--interval") {
      if (Result<void> given = value("interval", 1, kMaxInterval, r.interval_ms); !given) {
        return given;
      }
    } else if (w.size() > 1 && w.front() == '-') {
      return fail("unknown option '" + w + "' (see --help)");
    } else {
      rest.push_back(w);
    }
  }
  return {};
}

Result<void> command_words(Request& r, const std::vector<std::string>& args) {
  switch (r.command) {
    case Command::get:
      if (args.empty() || args.size() > 2) return fail("get: expected REG [COUNT] or NAME");
      if (Result<void> named = selector(args[0], r.selectors.emplace_back()); !named) return named;
      if (args.size() == 2) {
        if (r.selectors[0].field) return fail("get NAME takes no COUNT");
        return number(args[1], "count", 1, kMaxRegisterCount - r.selectors[0].reg, r.count);
      }
      if (r.selectors[0].field) r.count = static_cast<unsigned>(r.selectors[0].field->bytes());
      return {};
    case Command::set: {
      if (args.size() < 2) return fail("set: expected REG BYTE... or NAME VALUE");
      if (Result<void> named = selector(args[0], r.selectors.emplace_back()); !named) return named;
      const std::optional<Field>& field = r.selectors[0].field;
      if (field && args.size() != 2) return fail("set NAME takes one VALUE");
      if (field && field->bytes() > 1) {
        return fail(std::string(field->name) + " spans " + std::to_string(field->bytes()) +
                    " registers: set them by number");
      }
      const int64_t max = field ? (int64_t{1} << field->width) - 1 : kMaxByte;
      for (std::size_t i = 1; i < args.size(); ++i) {
        if (Result<void> value = number(args[i], field ? "value" : "byte", 0,
                                        std::min(max, kMaxFieldValue), r.values.emplace_back());
            !value) {
          return value;
        }
      }
      return {};
    }
    case Command::dump:
      if (args.size() == 1 || args.size() == 2) {
        uint8_t first = 0;
        uint8_t last = 0xFF;
        if (Result<void> from = number(args[0], "first register", 0, kMaxByte, first); !from) {
          return from;
        }
        if (args.size() == 2) {
          if (Result<void> to = number(args[1], "last register", first, kMaxByte, last); !to) {
            return to;
          }
        }
        r.range = std::pair(first, last);
        return {};
      }
      if (args.empty()) return {};
      return fail("dump: expected [FIRST [LAST]]");
    case Command::diff:
      r.files = args;
      if (r.files.size() == (r.board ? 1U : 2U)) return {};
      return fail("diff: expected BOARD diff DUMP, or diff DUMP DUMP");
    case Command::watch:
      if (args.empty()) return fail("watch: expected NAME|REG...");
      for (const std::string& a : args) {
        if (Result<void> named = selector(a, r.selectors.emplace_back()); !named) return named;
      }
      return {};
    case Command::scan:
      r.scan_tuner = r.scan_tuner || r.tuner.has_value();
      if (args.empty()) return {};
      return fail("scan takes no arguments");
    default:
      return {};
  }
}

std::optional<Command> command_called(std::string_view word) {
  for (const CommandName& c : kCommands) {
    if (c.name == word) return c.command;
  }
  return std::nullopt;
}

}  // namespace

std::optional<Field> field_named(std::string_view name) {
  for (const Field& field : register_map()) {
    if (field.name == name) return field;
  }
  return std::nullopt;
}

Result<Request> parse_request(const std::vector<std::string>& words) {
  Request r;
  std::vector<std::string> rest;
  bool asked_about = false;
  if (Result<void> given = options(words, r, rest, asked_about); !given) return given.error();
  if (asked_about || words.empty()) return r;
  std::size_t at = 0;
  if (!rest.empty() && !command_called(rest[0])) {
    Result<BoardTarget> board = parse_board_name(rest[0]);
    if (!board) return fail("board '" + rest[0] + "': " + board.error().cause);
    r.board = *board;
    at = 1;
  }
  if (at >= rest.size() || !command_called(rest[at])) {
    return fail(at >= rest.size() ? "expected a command: get, set, dump, diff, watch or scan"
                                  : "unknown command '" + rest[at] + "'");
  }
  r.command = *command_called(rest[at]);
  if (!r.board && r.command != Command::diff) {
    return fail("expected BOARD before the command");
  }
  const std::vector<std::string> args(rest.begin() + static_cast<std::ptrdiff_t>(at + 1),
                                      rest.end());
  if (Result<void> given = command_words(r, args); !given) return given.error();
  if (r.scan_tuner && r.command != Command::scan) {
    return fail("--tuner needs an ADDRESS");
  }
  return r;
}

}  // namespace demodctl::regtool
