# The UI thread's side of rendering, without any drawing library: the mounted
# view tree, hit testing, touch and hover events, and the painters that draw
# onto the Canvas interface.
add_library(talvek_render_ui STATIC
  ${CMAKE_CURRENT_LIST_DIR}/mounted_tree.cpp
  ${CMAKE_CURRENT_LIST_DIR}/touch_events.cpp
  ${CMAKE_CURRENT_LIST_DIR}/scroll_input.cpp
  ${CMAKE_CURRENT_LIST_DIR}/native_views.cpp
  ${CMAKE_CURRENT_LIST_DIR}/components/view_painter.cpp
  ${CMAKE_CURRENT_LIST_DIR}/components/paragraph_painter.cpp
  ${CMAKE_CURRENT_LIST_DIR}/components/image_painter.cpp
  ${CMAKE_CURRENT_LIST_DIR}/components/box_blur.cpp
  ${CMAKE_CURRENT_LIST_DIR}/components/tree_painter.cpp)
target_link_libraries(talvek_render_ui PUBLIC talvek_compile_flags nlohmann_json::nlohmann_json talvek_bridge talvek_render)
