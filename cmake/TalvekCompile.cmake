# Compiler flags shared by every target of the project.
add_library(talvek_compile_flags INTERFACE)
target_compile_options(talvek_compile_flags INTERFACE
  -Wall -Wextra -Wpedantic -Wshadow -Wnon-virtual-dtor -Wcast-align
  -Wimplicit-fallthrough -Wformat=2 -Wundef)
if(TALVEK_WERROR)
  target_compile_options(talvek_compile_flags INTERFACE -Werror)
endif()
target_include_directories(talvek_compile_flags INTERFACE ${PROJECT_SOURCE_DIR})

if(TALVEK_SANITIZE STREQUAL "address")
  # No vptr check: the JavaScript engine is built without RTTI, and its
  # shared_ptr instantiations merge with ours, so every engine-side release
  # would be flagged.
  add_compile_options(-fsanitize=address,undefined -fno-sanitize=vptr -fno-omit-frame-pointer
                      -fno-sanitize-recover=undefined)
  add_link_options(-fsanitize=address,undefined)
elseif(TALVEK_SANITIZE STREQUAL "thread")
  add_compile_options(-fsanitize=thread -fno-omit-frame-pointer)
  add_link_options(-fsanitize=thread)
elseif(NOT TALVEK_SANITIZE STREQUAL "")
  message(FATAL_ERROR "TALVEK_SANITIZE must be empty, 'address' or 'thread'")
endif()
