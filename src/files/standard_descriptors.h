// Descriptors 0, 1 and 2 that a program was started without. Left closed, the next file, socket
// or adapter the program opens takes their number, and what was meant for standard output ends
// up in it.
#pragma once

namespace demodctl {

struct StandardDescriptors {
  bool usable = false;         // 0..2 are all open now (closed ones on /dev/null)
  bool output_closed = false;  // standard output was closed at start
};

// Opens /dev/null on each of 0..2 that is closed. The first thing a program does.
StandardDescriptors occupy_standard_descriptors();

}  // namespace demodctl
