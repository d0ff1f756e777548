# With VELLORAN_SANITIZE every own target links velloran_sanitizers: address and
# undefined-behaviour checks, and any report ends the run (no silent recovery).
add_library(velloran_sanitizers INTERFACE)
if(VELLORAN_SANITIZE)
  set(_velloran_san_flags -fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer)
  target_compile_options(velloran_sanitizers INTERFACE ${_velloran_san_flags})
  target_link_options(velloran_sanitizers INTERFACE ${_velloran_san_flags})
endif()
if(VELLORAN_FUZZ)
  # Coverage instrumentation for every own target; the fuzz programs add libFuzzer's main.
  target_compile_options(velloran_sanitizers INTERFACE -fsanitize=fuzzer-no-link)
endif()

# velloran_apply_settings(target): the settings every own target shares.
function(velloran_apply_settings target)
  target_link_libraries(${target} PRIVATE velloran_warnings velloran_sanitizers)
endfunction()
