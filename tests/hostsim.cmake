# Tests of the stand-in host and the SVG renderer (native builds only).
# Included from tests/CMakeLists.txt.
if(NOT WIN32)
  if(NOT TARGET GTest::gtest_main)
    find_package(GTest REQUIRED)
  endif()
  include(GoogleTest)

  add_executable(velumo_hostsim_test
    ${CMAKE_CURRENT_LIST_DIR}/hostsim_test.cpp
    ${CMAKE_CURRENT_LIST_DIR}/hostsim_document_test.cpp)
  target_link_libraries(velumo_hostsim_test PRIVATE
    velumo_hostsim nlohmann_json::nlohmann_json GTest::gtest_main)
  velumo_warnings(velumo_hostsim_test)
  velumo_gtests(velumo_hostsim_test SLOW
    "DocumentParseTest.SizeIsLimited:DocumentSerializeTest.WritesCompactPiecesWithinTheSizeLimit")

  # Saving that fails at each step, and passes that fail anywhere: nothing
  # is lost and no temporary file stays behind; nor when someone else changes
  # the file or a signal cuts the save short; the saved file's access.
  add_executable(velumo_hostsim_save_test
    ${CMAKE_CURRENT_LIST_DIR}/hostsim_save_test.cpp
    ${CMAKE_CURRENT_LIST_DIR}/hostsim_files_test.cpp)
  target_link_libraries(velumo_hostsim_save_test PRIVATE
    velumo_masking velumo_hostsim velumo_test_support nlohmann_json::nlohmann_json GTest::gtest_main)
  velumo_warnings(velumo_hostsim_save_test)
  velumo_gtests(velumo_hostsim_save_test SLOW "SafeSaveTest.SaveBeyondTheReadersSizeLimitFails")

  add_executable(velumo_svg_render_test ${CMAKE_CURRENT_LIST_DIR}/svg_render_test.cpp)
  target_link_libraries(velumo_svg_render_test PRIVATE
    velumo_svg_render velumo_masking velumo_test_support nlohmann_json::nlohmann_json
    GTest::gtest_main)
  velumo_warnings(velumo_svg_render_test)
  velumo_gtests(velumo_svg_render_test)
endif()
