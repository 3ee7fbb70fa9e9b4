# Warning flags shared by every pelmo target (library, tests, tools).
add_library(pelmo_warnings INTERFACE)
target_compile_options(pelmo_warnings INTERFACE -Wall -Wextra -Wpedantic -Wshadow -Wconversion
                                                -Wno-sign-conversion)
if(PELMO_WERROR)
  target_compile_options(pelmo_warnings INTERFACE -Werror)
endif()
