qvr_test(fMainOpciones_test
         SOURCES ${CMAKE_CURRENT_LIST_DIR}/fMainOpciones_test.cpp ${CMAKE_CURRENT_LIST_DIR}/GuiTestMain.cpp
         LIBS qvrapp qvrtestsupport Qt6::Test
         ENV QT_QPA_PLATFORM=offscreen QTEST_FUNCTION_TIMEOUT=60000)
qvr_test_as_user(fMainOpciones_test)

# Without a display the program says so in one sentence instead of letting the
# toolkit abort with a trace.
add_test(NAME QVROpciones_without_display
         COMMAND env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM $<TARGET_FILE:QVROpciones>)
add_test(NAME QVROpciones_unreachable_display
         COMMAND env -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM DISPLAY=:987 $<TARGET_FILE:QVROpciones>)
set_tests_properties(QVROpciones_without_display PROPERTIES LABELS gui TIMEOUT 60
  PASS_REGULAR_EXPRESSION "^QVROpciones needs a desktop session or Xvfb to show its window, and no display is available[^\n]*\n$")
set_tests_properties(QVROpciones_unreachable_display PROPERTIES LABELS gui TIMEOUT 60
  PASS_REGULAR_EXPRESSION "^QVROpciones needs a desktop session or Xvfb to show its window, and the display \":987\" cannot be reached.\n$")
