# The transfer progress dialog (with its owner for the main window) and the
# permission dialog.
add_library(tarvik_transferdialogs STATIC
  ${CMAKE_CURRENT_LIST_DIR}/transferthrottle.h ${CMAKE_CURRENT_LIST_DIR}/transferthrottle.cpp
  ${CMAKE_CURRENT_LIST_DIR}/transfer.h ${CMAKE_CURRENT_LIST_DIR}/transfer.cpp
  ${CMAKE_CURRENT_LIST_DIR}/transferprogress.h ${CMAKE_CURRENT_LIST_DIR}/transferprogress.cpp
  ${CMAKE_CURRENT_LIST_DIR}/chmod.h ${CMAKE_CURRENT_LIST_DIR}/chmod.cpp)
tarvik_export_folder(tarvik_transferdialogs)
target_link_libraries(tarvik_transferdialogs PUBLIC tarvik_prompts tarvik_help Qt6::Widgets)
