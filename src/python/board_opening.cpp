#include "board_opening.h"

#include "monitor/board_target.h"

namespace demodctl::python {

Result<std::unique_ptr<monitor::BoardLink>> make_board_link(const std::string& uri) {
  // The monitor's --board syntax wants NAME=; the binding's boards are named by their target.
  const Result<monitor::BoardTarget> target = monitor::parse_board_option("board=" + uri);
  if (!target) return target.error();
  return std::make_unique<monitor::BoardLink>(*target);
}

}  // namespace demodctl::python
