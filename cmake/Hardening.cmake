# The Debian hardening defaults (dpkg-buildflags with hardening=+all) for every
# binary we build: the updater runs as root. _FORTIFY_SOURCE needs an optimised
# build; at -O0 (the debug and sanitizer builds) it only warns.
include(CheckCCompilerFlag)
include(CheckPIESupported)
check_pie_supported()

add_compile_options(-fstack-protector-strong -Wformat -Werror=format-security)
add_link_options(LINKER:-z,relro LINKER:-z,now)

# Newer dpkg-buildflags add these too (stackclash, branch); hardening-check
# looks for them already.
foreach(flag -fstack-clash-protection -fcf-protection)
    string(MAKE_C_IDENTIFIER "HAVE${flag}" supported)
    check_c_compiler_flag(${flag} ${supported})
    if(${supported})
        add_compile_options(${flag})
    endif()
endforeach()

# A packager's flags that already choose a fortify level win; a compiler that
# defines one by itself is overridden rather than warned about.
if(NOT "${CMAKE_C_FLAGS} ${CMAKE_CXX_FLAGS}" MATCHES "_FORTIFY_SOURCE")
    set(optimised "$<CONFIG:Release,RelWithDebInfo,MinSizeRel>")
    add_compile_options("$<${optimised}:-U_FORTIFY_SOURCE>" "$<${optimised}:-D_FORTIFY_SOURCE=2>")
endif()
