# Warnings every target of the project is built with.
add_library(korvane_warnings INTERFACE)
target_compile_options(korvane_warnings INTERFACE -Wall -Wextra -Wshadow -Wno-missing-field-initializers)
