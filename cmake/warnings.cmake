# Every target of the project builds warning-free or not at all.
function(nlconf_strict target)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Wpedantic -Wshadow
                                           -Wnon-virtual-dtor -Wcast-align
                                           -Wformat=2 -Werror)
endfunction()
