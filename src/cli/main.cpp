#include "cli/dispatch.h"

int main(int argc, char** argv) { return demodctl::dispatch(argc, argv); }
