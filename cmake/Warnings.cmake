# Warnings are errors on every compiler we build with.
set(KV_WARNINGS -Wall -Wextra -Wpedantic -Wshadow
    -Wcast-align -Wformat=2 -Wnull-dereference -Werror)
function(kv_warnings target)
    target_compile_options(${target} PRIVATE ${KV_WARNINGS})
endfunction()
