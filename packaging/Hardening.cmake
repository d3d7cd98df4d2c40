# The hardening Debian's dpkg-buildflags gives network programs (hardening=+all), with the
# stack clash and control-flow protection of its newer releases: libc calls checked at run
# time (fortify), stack protector, stack clash protection, control-flow protection (CET),
# position-independent programs, and relocations read-only and bound at start (relro,
# bind-now). Fortify needs the optimiser: builds without it (Debug) go without.
include(CheckCXXCompilerFlag)
include(CheckPIESupported)

# Another definition may come with the compiler (some distributions build it in).
add_compile_options("$<$<CONFIG:Release,RelWithDebInfo,MinSizeRel>:-U_FORTIFY_SOURCE;-D_FORTIFY_SOURCE=2>")
# -Wformat is on with -Wall; format-security needs it.
set(CMAKE_REQUIRED_FLAGS -Wformat)
foreach(flag -fstack-protector-strong -fstack-clash-protection -fcf-protection -Werror=format-security)
  string(MAKE_C_IDENTIFIER "TALVO_CXX_HAS${flag}" supported)
  check_cxx_compiler_flag(${flag} ${supported})
  if(${supported})
    add_compile_options(${flag})
  endif()
endforeach()
unset(CMAKE_REQUIRED_FLAGS)
add_link_options(LINKER:-z,relro LINKER:-z,now)

# Control-flow protection shows in a program's CET note only when every object linked has
# it, and Debian 12's C start files (Scrt1.o, crti.o, crtn.o) carry none: the linker is told
# to mark the programs anyway. Everything of ours is built for it, the start files' code
# keeps calls and returns paired (all the shadow stack asks), and the system's loader turns
# CET on only when every library loaded is marked too.
include(CheckLinkerFlag)
if(TALVO_CXX_HAS_fcf_protection)
  check_linker_flag(CXX "LINKER:-z,ibt,-z,shstk" TALVO_LINKER_HAS_CET_MARKS)
  if(TALVO_LINKER_HAS_CET_MARKS)
    add_link_options(LINKER:-z,ibt,-z,shstk)
  endif()
endif()

# The programs are linked position-independent (-pie). Their libraries are compiled as the
# toolchain does by default, as with dpkg-buildflags: position-independent on Debian.
check_pie_supported()
function(talvo_harden_program target)
  set_target_properties(${target} PROPERTIES POSITION_INDEPENDENT_CODE ON)
endfunction()
