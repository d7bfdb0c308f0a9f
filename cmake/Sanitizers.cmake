# KORVANE_SANITIZE=address;undefined (or thread) instruments every target.
if(KORVANE_SANITIZE)
  list(JOIN KORVANE_SANITIZE "," _korvane_sanitizers)
  add_compile_options(-fsanitize=${_korvane_sanitizers} -fno-omit-frame-pointer -fno-sanitize-recover=all)
  add_link_options(-fsanitize=${_korvane_sanitizers})
endif()
