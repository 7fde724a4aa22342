# Debian's hardening flags (dpkg-buildflags with hardening=+all on Debian 12) for the optimised
# builds: fortified libc calls (_FORTIFY_SOURCE needs the optimiser), stack protector on every
# function with a local array or address taken, position-independent executables, and full RELRO
# (relocations resolved at start, then read-only). Their warnings stay warnings unless
# DEMODCTL_WERROR asks otherwise: a user's Release build never fails on a new compiler's opinion.
# Not with the sanitizers or the fuzzer: they bring their own checks, and FORTIFY's wrappers hide
# the accesses ASan would report.
option(DEMODCTL_HARDENING "Build the optimised configurations with Debian's hardening flags" ON)
set(DEMODCTL_HARDENED OFF)
if(DEMODCTL_HARDENING AND NOT DEMODCTL_SANITIZE AND NOT DEMODCTL_FUZZ)
  set(DEMODCTL_HARDENED "$<NOT:$<CONFIG:Debug>>")  # what the install test expects
  include(CheckPIESupported)
  check_pie_supported(LANGUAGES C CXX)
  set(CMAKE_POSITION_INDEPENDENT_CODE ON)
  set(optimised "$<NOT:$<CONFIG:Debug>>")
  # A toolchain may define _FORTIFY_SOURCE already (Ubuntu's at level 3): ours replaces it.
  add_compile_options("$<${optimised}:-U_FORTIFY_SOURCE;-D_FORTIFY_SOURCE=2>"
                      "$<${optimised}:-fstack-protector-strong>")
  add_link_options("$<${optimised}:LINKER:-z,relro;LINKER:-z,now>")
endif()
