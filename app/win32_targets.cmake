# The Windows program: resources, the window code, Ferrywick.exe and the GUI tests.
enable_language(RC)

# The icon is drawn by a script in the repository, not taken from anywhere.
set(FW_ICON ${CMAKE_CURRENT_BINARY_DIR}/ferrywick.ico)
add_custom_command(
  OUTPUT ${FW_ICON}
  COMMAND bash ${CMAKE_CURRENT_SOURCE_DIR}/resources/make_icon.sh ${FW_ICON}
  DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/resources/make_icon.sh
  COMMENT "Drawing the program icon")
# So are the File Tree's entry pictures.
set(FW_BITMAPS)
foreach(name folder_plain folder_red folder_green folder_blue file_plain file_red file_green
             file_pink file_cyan file_yellow)
  list(APPEND FW_BITMAPS ${CMAKE_CURRENT_BINARY_DIR}/${name}.bmp)
endforeach()
add_custom_command(
  OUTPUT ${FW_BITMAPS}
  COMMAND bash ${CMAKE_CURRENT_SOURCE_DIR}/resources/make_bitmaps.sh ${CMAKE_CURRENT_BINARY_DIR}
  DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/resources/make_bitmaps.sh
  COMMENT "Drawing the File Tree pictures")
add_custom_target(fw_app_icon DEPENDS ${FW_ICON} ${FW_BITMAPS})

# The window code as a library, so that the GUI tests drive the same windows in-process.
add_library(fw_app_win STATIC
  app_state.cpp
  program.cpp
  main_window.cpp
  project_commands.cpp
  tasks.cpp
  progress_window.cpp
  settings_registry.cpp
  file_dialogs.cpp
  folder_pair_dialog.cpp
  about_box.cpp
  file_tree_window.cpp
  options_dialog.cpp
  save_diff_dialog.cpp
  safety_net.cpp
  safety_dialog.cpp
)
target_link_libraries(fw_app_win PUBLIC fw_app_logic comctl32 comdlg32 shell32 ole32 advapi32
                      gdi32 user32)

set(FW_RESOURCES
  resources/ferrywick.rc
  resources/folder_pair_about.rc
  resources/file_tree.rc
  resources/dialogs.rc
  resources/safety.rc
)
set_source_files_properties(resources/file_tree.rc PROPERTIES
  OBJECT_DEPENDS "${FW_BITMAPS};${CMAKE_CURRENT_SOURCE_DIR}/resources/resource_ids.h")
set_source_files_properties(resources/ferrywick.rc PROPERTIES
  OBJECT_DEPENDS "${FW_ICON};${CMAKE_CURRENT_SOURCE_DIR}/resources/ferrywick.manifest;${CMAKE_CURRENT_SOURCE_DIR}/resources/resource_ids.h")
set(CMAKE_RC_FLAGS "${CMAKE_RC_FLAGS} -I${CMAKE_CURRENT_BINARY_DIR} -I${CMAKE_CURRENT_SOURCE_DIR}/resources")

add_executable(Ferrywick WIN32 main.cpp ${FW_RESOURCES})
add_dependencies(Ferrywick fw_app_icon)
target_link_libraries(Ferrywick PRIVATE fw_app_win)
target_link_options(Ferrywick PRIVATE -municode)
fw_add_version_resource(Ferrywick "Ferrywick")

if(FW_BUILD_TESTS)
  # The real windows under Wine in a virtual X server (scripts/with-xvfb.sh, scripts/wine-run.sh:
  # the test below; the README shows the command to run it by hand).
  add_executable(gui_tests
    gui_tests/gui_main.cpp
    gui_tests/gui_harness.cpp
    gui_tests/main_window_gui_test.cpp
    gui_tests/task_gui_test.cpp
    gui_tests/settings_gui_test.cpp
    gui_tests/file_tree_gui_test.cpp
    gui_tests/dialogs_gui_test.cpp
    gui_tests/safety_net_gui_test.cpp
    ${FW_RESOURCES})
  add_dependencies(gui_tests fw_app_icon)
  target_link_libraries(gui_tests PRIVATE fw_app_win fw_testing GTest::gtest)
  # In three shards, each on a virtual X server of its own (scripts/with-xvfb.sh picks a free
  # display) with a desktop and a settings key of its own (gui_main.cpp), so that they run beside
  # each other and the other tests (ctest -j): the tests mostly wait for Wine. The longest tests:
  # started first.
  find_program(FW_XVFB Xvfb)
  if(FW_XVFB)
    set(shards 3)
    math(EXPR last "${shards} - 1")
    foreach(shard RANGE ${last})
      add_test(NAME gui_tests_${shard}
               COMMAND bash ${CMAKE_SOURCE_DIR}/scripts/with-xvfb.sh
                       ${CMAKE_SOURCE_DIR}/scripts/wine-run.sh $<TARGET_FILE:gui_tests> --gtest_brief=1)
      set_tests_properties(gui_tests_${shard} PROPERTIES TIMEOUT 300 COST 1000
        ENVIRONMENT "GTEST_TOTAL_SHARDS=${shards};GTEST_SHARD_INDEX=${shard}")
    endforeach()
  endif()
endif()

# A small driver that moves the running program from a script (scripts/screenshots.sh).
add_executable(fw-gui-drive tools/gui_drive.cpp)
target_link_options(fw-gui-drive PRIVATE -municode)
