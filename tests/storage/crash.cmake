# Crash safety of the key-value store: kv_crash_writer rewrites kv.json
# without end and kv_crash_tests kills it at random moments, checking what
# each kill left behind. Included from tests/storage/CMakeLists.txt.
add_executable(kv_crash_writer ${CMAKE_CURRENT_LIST_DIR}/kv_crash_writer.cpp)
target_link_libraries(kv_crash_writer PRIVATE talvek_storage)
set_target_properties(kv_crash_writer PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tests)

talvek_add_test_suite(kv_crash_tests
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/kv_crash_test.cpp
  LIBS talvek_storage nlohmann_json::nlohmann_json)
target_compile_definitions(kv_crash_tests PRIVATE KV_CRASH_WRITER="$<TARGET_FILE:kv_crash_writer>")
add_dependencies(kv_crash_tests kv_crash_writer)
