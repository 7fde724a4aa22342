// Standalone Asio for every file of the web side. Asio decides how it allocates handler memory
// (aligned_alloc/free or operator new/delete) from libstdc++'s configuration macros, so a
// standard header must come before it, in every file alike: a file that included <asio.hpp>
// first would allocate one way and free the other.
#pragma once

// clang-format off
#include <cstddef>
#include <asio.hpp>
// clang-format on
