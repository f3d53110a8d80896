# The warnings every target is built with; KV_WERROR (which CI turns on) makes them errors.
set(KV_WARNINGS -Wall -Wextra -Wpedantic -Wshadow
    -Wcast-align -Wformat=2 -Wnull-dereference)
if(KV_WERROR)
    list(APPEND KV_WARNINGS -Werror)
endif()
function(kv_warnings target)
    target_compile_options(${target} PRIVATE ${KV_WARNINGS})
endfunction()
