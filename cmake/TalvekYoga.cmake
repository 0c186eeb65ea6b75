# Yoga, the flexbox layout engine, built from the copy inside the pinned
# react-native npm package (scripts/install-deps.sh installs it). Third-party
# code: compiled without the project's warning flags.
set(TALVEK_YOGA_DIR ${PROJECT_SOURCE_DIR}/js/node_modules/react-native/ReactCommon/yoga)
if(NOT EXISTS ${TALVEK_YOGA_DIR}/yoga/Yoga.h)
  message(FATAL_ERROR "Yoga not found at ${TALVEK_YOGA_DIR}: run scripts/install-deps.sh")
endif()

file(GLOB_RECURSE TALVEK_YOGA_SOURCES CONFIGURE_DEPENDS ${TALVEK_YOGA_DIR}/yoga/*.cpp)
add_library(talvek_yoga STATIC ${TALVEK_YOGA_SOURCES})
target_include_directories(talvek_yoga SYSTEM PUBLIC ${TALVEK_YOGA_DIR})
target_compile_options(talvek_yoga PRIVATE -w)
set_target_properties(talvek_yoga PROPERTIES POSITION_INDEPENDENT_CODE ON)
