# Values compiled into the program, chosen at configure time and never read
# from the environment at run time. Code includes "talvek/fixed_values.h"
# through the interface target talvek_fixed_values.
set(TALVEK_SERVICE_HOST "app.talvek.chat" CACHE STRING
    "The service's host name (lower-case DNS name): media downloads go only there")

if(NOT TALVEK_SERVICE_HOST MATCHES "^[a-z0-9]([a-z0-9-]*[a-z0-9])?(\\.[a-z0-9]([a-z0-9-]*[a-z0-9])?)+$")
  message(FATAL_ERROR "TALVEK_SERVICE_HOST must be a lower-case DNS name, got '${TALVEK_SERVICE_HOST}'")
endif()

set(TALVEK_FIXED_VALUES_DIR ${CMAKE_BINARY_DIR}/generated)
configure_file(${CMAKE_CURRENT_LIST_DIR}/fixed_values.h.in ${TALVEK_FIXED_VALUES_DIR}/talvek/fixed_values.h @ONLY)
add_library(talvek_fixed_values INTERFACE)
target_include_directories(talvek_fixed_values INTERFACE ${TALVEK_FIXED_VALUES_DIR})
