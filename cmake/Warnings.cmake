# Every own target links velloran_warnings so the whole tree builds with one warning set.
add_library(velloran_warnings INTERFACE)
target_compile_options(velloran_warnings INTERFACE
  -Wall -Wextra -Wpedantic -Wshadow -Wconversion -Wsign-conversion
  -Wnon-virtual-dtor -Wold-style-cast -Woverloaded-virtual -Wnull-dereference
  -Wimplicit-fallthrough -Wformat=2)
if(VELLORAN_WERROR)
  target_compile_options(velloran_warnings INTERFACE -Werror)
endif()
