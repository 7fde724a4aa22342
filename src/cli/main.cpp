#include "cli/dispatch.h"
#include "cli/platform.h"

int main(int argc, char** argv) {
  demodctl::RealPlatform platform;
  return demodctl::finish_output(demodctl::dispatch(argc, argv, platform));
}
