# Tests of the transfer progress and permission dialogs.
add_executable(tarvik_transferdialogs_tests
  ${CMAKE_CURRENT_LIST_DIR}/transfer_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/transferprogress_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/chmod_test.cpp)
target_link_libraries(tarvik_transferdialogs_tests PRIVATE tarvik_transferdialogs tarvik_test_gui_main Qt6::Test)
add_test(NAME dialogs_transfer COMMAND tarvik_transferdialogs_tests)
set_tests_properties(dialogs_transfer PROPERTIES ENVIRONMENT "QT_QPA_PLATFORM=offscreen" TIMEOUT 120)
