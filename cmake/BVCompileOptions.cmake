# Warning and sanitizer settings, applied to the project's own targets through bv_target_defaults().
add_library(bv_options INTERFACE)
target_compile_options(bv_options INTERFACE
    -Wall -Wextra -Wpedantic -Wshadow=local -Wnon-virtual-dtor -Wno-missing-field-initializers)
if(REELMARK_WERROR)
    target_compile_options(bv_options INTERFACE -Werror)
endif()
target_compile_definitions(bv_options INTERFACE QT_NO_KEYWORDS QT_USE_QSTRINGBUILDER)

if(REELMARK_SANITIZE STREQUAL "thread")
    # ThreadSanitizer: its own build, since it cannot be combined with AddressSanitizer.
    target_compile_options(bv_options INTERFACE -fsanitize=thread -fno-omit-frame-pointer)
    target_link_options(bv_options INTERFACE -fsanitize=thread)
elseif(REELMARK_SANITIZE)
    target_compile_options(bv_options INTERFACE
        -fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
    target_link_options(bv_options INTERFACE -fsanitize=address,undefined)
endif()

function(bv_target_defaults target)
    target_link_libraries(${target} PRIVATE bv_options)
endfunction()
