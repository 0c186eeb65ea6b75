# Native modules register themselves during static initialisation, so nothing
# references their object files. Each module is therefore an OBJECT library
# whose objects are linked into every program as they are, never through an
# archive the linker could drop them from.
#
#   talvek_add_module(<target> SOURCES ... [LIBS ...])
#
# adds the module to the `talvek_modules` interface target that programs link.
add_library(talvek_modules INTERFACE)

function(talvek_add_module target)
  cmake_parse_arguments(ARG "" "" "SOURCES;LIBS" ${ARGN})
  add_library(${target} OBJECT ${ARG_SOURCES})
  target_link_libraries(${target} PUBLIC talvek_compile_flags talvek_bridge talvek_platform ${ARG_LIBS})
  # Through an INTERFACE target only $<TARGET_OBJECTS> carries the objects;
  # a target linking an OBJECT library directly gets them by that alone.
  target_link_libraries(talvek_modules INTERFACE $<TARGET_OBJECTS:${target}> ${ARG_LIBS}
                        talvek_bridge talvek_platform)
endfunction()
