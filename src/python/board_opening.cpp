#include "board_opening.h"

#include "monitor/board_target.h"

namespace demodctl::python {

std::unique_ptr<monitor::BoardLink> make_board_link(const std::string& uri, std::string* error) {
  // The monitor's --board syntax wants NAME=; the binding's boards are named by their target.
  const std::optional<monitor::BoardTarget> target =
      monitor::parse_board_option("board=" + uri, error);
  if (!target) return nullptr;
  return std::make_unique<monitor::BoardLink>(*target);
}

}  // namespace demodctl::python
