#include "cli/silent_paths.h"

#include <algorithm>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "bus/verbose.h"
#include "cli/dispatch.h"
#include "cli/numbers.h"

namespace demodctl {
namespace {

constexpr std::string_view kForHex = " (demodreg takes 0x hex and register names)";

// Edits (insert, delete, replace) from a to b.
std::size_t distance(std::string_view a, std::string_view b) {
  std::vector<std::size_t> row(b.size() + 1);
  for (std::size_t j = 0; j <= b.size(); ++j) row[j] = j;
  for (std::size_t i = 1; i <= a.size(); ++i) {
    std::size_t diagonal = row[0];
    row[0] = i;
    for (std::size_t j = 1; j <= b.size(); ++j) {
      const std::size_t above = row[j];
      row[j] = std::min({row[j] + 1, row[j - 1] + 1, diagonal + (a[i - 1] == b[j - 1] ? 0U : 1U)});
      diagonal = above;
    }
  }
  return row[b.size()];
}

bool is_command(const char* word) {
  return std::any_of(command_table().begin(), command_table().end(),
                     [word](const Command& c) { return std::strcmp(c.name, word) == 0; });
}

// A number position whose text is not all decimal digits (a sign allowed).
void explain(bool verbose, const char* what, const char* text) {
  std::string_view digits(text);
  if (!digits.empty() && (digits.front() == '-' || digits.front() == '+')) digits.remove_prefix(1);
  if (!digits.empty() &&
      std::all_of(digits.begin(), digits.end(), [](char ch) { return ch >= '0' && ch <= '9'; })) {
    return;
  }
  say_why(verbose, std::string(what) + " '" + text + "' read as " + std::to_string(to_int(text)) +
                       ": numbers are decimal" + std::string(kForHex));
}

}  // namespace

void explain_unknown_command(const char* name, const char* last, bool verbose) {
  if (!verbose) return;
  if (is_command(last)) {
    say_why(verbose,
            std::string("'") + last +
                "' is a command name: the transport flag after it is missing (0: the USB bridge, "
                "1: the register server)");
    return;
  }
  const Command* nearest = nullptr;
  std::size_t best = 0;
  for (const Command& c : command_table()) {
    const std::size_t d = distance(name, c.name);
    if (nearest == nullptr || d < best) {
      nearest = &c;
      best = d;
    }
  }
  say_why(verbose, std::string("no command '") + name + "'; the nearest is '" + nearest->name +
                       "'. For registers by number or name, see demodreg");
}

void explain_numbers(const Command& c, Via via, int argc, char** argv, bool verbose) {
  if (!verbose) return;
  static constexpr const char* kSocketNames[] = {"port", "channel", "speed", "address"};
  static constexpr const char* kUsbNames[] = {"speed", "address"};
  if (c.frame != Frame::none) {
    const bool socket = via == Via::server;
    const int first = socket ? 2 : 1;  // after the program, and the host on the socket
    const int count = socket ? 4 : 2;
    for (int i = 0; i < count && first + i < argc; ++i) {
      explain(verbose, socket ? kSocketNames[i] : kUsbNames[i], argv[first + i]);
    }
    const int own = (socket ? kSocketPositions : kUsbPositions) + 1;
    // tuner_set's first two own arguments name the tuner (its channel is a place holder on the
    // bridge, never read).
    if (std::strcmp(c.name, "tuner_set") == 0 && own + 1 < argc) {
      if (socket) explain(verbose, "tuner channel", argv[own]);
      explain(verbose, "tuner address", argv[own + 1]);
    }
  }
  explain(verbose, "transport flag", argv[argc - 1]);
}

}  // namespace demodctl
