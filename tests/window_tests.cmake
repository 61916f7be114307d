# The main window and the runtime services on Qt, and the program itself.

# Widget tests on Qt's offscreen platform; labelled "gui", so they stay out of
# the sanitizer pass.
find_package(Qt6 REQUIRED COMPONENTS Widgets Test)
function(window_gui_test name)
  add_executable(${name} ${ARGN} window/gui_test_main.cpp)
  target_link_libraries(${name} PRIVATE window fakeruntime testsupport GTest::gtest Qt6::Test)
  gtest_discover_tests(${name}
    PROPERTIES LABELS "gui" ENVIRONMENT "${TEST_ENV}"
               ENVIRONMENT_MODIFICATION "QT_QPA_PLATFORM=set:offscreen"
    DISCOVERY_TIMEOUT 60)
endfunction()
window_gui_test(window_purge_window_test window/purge_window_test.cpp)
window_gui_test(window_qt_runtime_test window/qt_runtime_test.cpp)

# The real program under Xvfb with a window manager, as an operator uses it
# (screenshots kept in the build folder).
add_executable(screen_grab window/screen_grab.cpp)
target_link_libraries(screen_grab PRIVATE Qt6::Gui)
add_executable(screen_compare window/screen_compare.cpp)
target_link_libraries(screen_compare PRIVATE Qt6::Gui)
add_test(NAME window_program_under_xvfb
  COMMAND bash ${CMAKE_CURRENT_SOURCE_DIR}/window/program_under_xvfb.sh
          $<TARGET_FILE:borrar-inactivos> $<TARGET_FILE:screen_grab>
          $<TARGET_FILE:screen_compare> $<TARGET_FILE:mkclientes>
          ${CMAKE_CURRENT_BINARY_DIR}/artefacts/window)
set_tests_properties(window_program_under_xvfb PROPERTIES
  LABELS "gui;xvfb" ENVIRONMENT "${TEST_ENV}" SKIP_RETURN_CODE 77 TIMEOUT 180)
