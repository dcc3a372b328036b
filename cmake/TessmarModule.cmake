# Helpers shared by the subsystem folders.

# tessmar_static_library(<name> [SOURCES ...] [EXCLUDE ...] [DEPS ...]): one
# static library from the given .cpp files of the calling folder, or else from
# every .cpp file of the folder (not recursive) but those EXCLUDE names.
function(tessmar_static_library name)
  cmake_parse_arguments(ARG "" "" "SOURCES;EXCLUDE;DEPS" ${ARGN})
  if(ARG_SOURCES)
    list(TRANSFORM ARG_SOURCES PREPEND ${CMAKE_CURRENT_SOURCE_DIR}/ OUTPUT_VARIABLE sources)
  else()
    file(GLOB sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp)
    foreach(excluded ${ARG_EXCLUDE})
      list(REMOVE_ITEM sources ${CMAKE_CURRENT_SOURCE_DIR}/${excluded})
    endforeach()
  endif()
  if(NOT sources)
    set(sources ${PROJECT_SOURCE_DIR}/cmake/empty.cpp)
  endif()
  add_library(${name} STATIC ${sources})
  target_link_libraries(${name} PUBLIC ${ARG_DEPS} Threads::Threads)
endfunction()

# tessmar_tests(<folder> LIBS ...): one test program per *_test.cpp of the
# folder, each linked with the given libraries and GoogleTest.
function(tessmar_tests folder)
  cmake_parse_arguments(ARG "" "" "LIBS;LABELS" ${ARGN})
  file(GLOB tests CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/${folder}/*_test.cpp)
  file(GLOB helpers CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/${folder}/*_util.cpp)
  # The folder's shared helpers are compiled once, into a library of their own.
  set(helper_lib)
  if(helpers)
    string(REPLACE "/" "_" helper_lib tests_${folder}_util)
    add_library(${helper_lib} STATIC ${helpers})
    target_link_libraries(${helper_lib} PUBLIC ${ARG_LIBS} testsupport GTest::gtest GTest::gmock)
  endif()
  foreach(t ${tests})
    get_filename_component(base ${t} NAME_WE)
    set(target ${folder}_${base})
    string(REPLACE "/" "_" target ${target})
    add_executable(${target} ${t})
    target_link_libraries(${target} PRIVATE ${helper_lib} ${ARG_LIBS} testsupport GTest::gtest_main GTest::gmock)
    gtest_discover_tests(${target} DISCOVERY_TIMEOUT 60 TEST_LIST ${target}_TESTS
      PROPERTIES ENVIRONMENT "TESSMAR_SOURCE_DIR=${PROJECT_SOURCE_DIR}")
    # Labels and the environment (widget tests draw offscreen) are set after discovery: passed through the discovery's
    # properties, a list of labels collapses into one property value.
    set(label_file ${CMAKE_CURRENT_BINARY_DIR}/${target}_labels.cmake)
    file(WRITE ${label_file}
      "if(DEFINED ${target}_TESTS)\n"
      "  set_tests_properties(\${${target}_TESTS} PROPERTIES LABELS \"${folder};${ARG_LABELS}\"\n"
      "    ENVIRONMENT \"TESSMAR_SOURCE_DIR=${PROJECT_SOURCE_DIR};QT_QPA_PLATFORM=offscreen\")\n"
      "endif()\n")
    set_property(DIRECTORY APPEND PROPERTY TEST_INCLUDE_FILES ${label_file})
  endforeach()
endfunction()
