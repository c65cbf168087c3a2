# The hardening Debian builds its packages with (what `dpkg-buildflags` gives with
# hardening=+all): stack protector, format-string checks, fortified C library calls, position
# independent executables, and relocations read-only after start-up (relro, bindnow).
#
# _FORTIFY_SOURCE needs an optimised build, and AddressSanitizer does not check the fortified
# calls (and warns about them), so a Debug build, a sanitizer build and flags that already
# choose a level do without it. KAVIO_HARDENING=OFF drops all of it.
option(KAVIO_HARDENING "Build with the distribution's hardening flags" ON)
if(NOT KAVIO_HARDENING)
    return()
endif()

include(CheckPIESupported)
check_pie_supported(LANGUAGES CXX)
set(CMAKE_POSITION_INDEPENDENT_CODE ON)

add_compile_options(-fstack-protector-strong -Wformat -Werror=format-security)
if(NOT CMAKE_CXX_FLAGS MATCHES "-fsanitize=|_FORTIFY_SOURCE")
    add_compile_options("$<$<NOT:$<CONFIG:Debug>>:-U_FORTIFY_SOURCE;-D_FORTIFY_SOURCE=2>")
endif()
add_link_options(LINKER:-z,relro LINKER:-z,now)
