# Helpers shared by every folder of the build.
#
# Qt's headers are most of what a file of ours costs to compile, so each
# library and each tests folder precompiles the common ones once
# (MARROWBY_PCH). Every file must still include what it uses: a build with
# -DMARROWBY_PCH=OFF has to work too.
#
# Each library folder compiles every .cpp and .h it holds (not its sub-folders),
# so adding a class is adding its two files; EXCLUDE leaves named files of the
# folder to other targets. A folder may keep an extra.cmake for anything beyond that.

function(marrowby_library name)
  cmake_parse_arguments(ARG "" "" "PUBLIC_LIBS;PRIVATE_LIBS;DIRS;EXCLUDE" ${ARGN})
  set(dirs ${CMAKE_CURRENT_SOURCE_DIR} ${ARG_DIRS})
  set(sources)
  foreach(dir ${dirs})
    file(GLOB found CONFIGURE_DEPENDS ${dir}/*.cpp ${dir}/*.h ${dir}/*.c)
    list(APPEND sources ${found})
  endforeach()
  foreach(file ${ARG_EXCLUDE})
    list(REMOVE_ITEM sources ${CMAKE_CURRENT_SOURCE_DIR}/${file})
  endforeach()
  if(NOT sources)
    set(stub ${CMAKE_CURRENT_BINARY_DIR}/${name}_empty.cpp)
    file(WRITE ${stub} "// no sources yet\n")
    set(sources ${stub})
  endif()
  add_library(${name} STATIC ${sources})
  # With Ninja, moc reruns only when a file it read before changes, so a
  # header added to an existing build folder would never be run through it.
  # A changed list of headers (seen when the glob above runs again) drops the
  # run's time stamp, which makes it run.
  set(headers ${sources})
  list(FILTER headers INCLUDE REGEX "\\.h$")
  string(SHA1 headers_hash "${headers}")
  if(NOT headers_hash STREQUAL "${MARROWBY_HEADERS_${name}}")
    file(REMOVE ${CMAKE_CURRENT_BINARY_DIR}/${name}_autogen/timestamp)
    set(MARROWBY_HEADERS_${name} ${headers_hash} CACHE INTERNAL "")
  endif()
  target_include_directories(${name} PUBLIC ${CMAKE_SOURCE_DIR} ${CMAKE_CURRENT_SOURCE_DIR})
  target_link_libraries(${name} PUBLIC ${ARG_PUBLIC_LIBS} PRIVATE ${ARG_PRIVATE_LIBS})
  set(units ${sources})
  list(FILTER units INCLUDE REGEX "\\.cpp$")
  list(LENGTH units unit_count)
  if(unit_count GREATER_EQUAL 6)
    marrowby_precompile(${name} "${ARG_PUBLIC_LIBS}" "")
  endif()
  target_compile_definitions(${name} PUBLIC
    MARROWBY_DEFAULT_SERVER="${MARROWBY_DEFAULT_SERVER}"
    MARROWBY_DEFAULT_WEB="${MARROWBY_DEFAULT_WEB}")
endfunction()

# One QtTest executable per tst_*.cpp of a tests folder, registered with ctest
# with the offscreen platform and a HOME of its own. The folder's helper_*
# files are compiled once, into an object library every test of the folder
# links; HELPERS names other tests folders whose helpers the tests use too.
function(marrowby_tests libs)
  cmake_parse_arguments(ARG "" "" "HELPERS" ${ARGN})
  file(GLOB tests CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/tst_*.cpp)
  file(GLOB helpers CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/helper_*.cpp ${CMAKE_CURRENT_SOURCE_DIR}/helper_*.h)
  file(RELATIVE_PATH rel ${CMAKE_SOURCE_DIR}/tests ${CMAKE_CURRENT_SOURCE_DIR})
  string(REPLACE "/" "_" prefix ${rel})
  set(own_helpers)
  set(helper_units ${helpers})
  list(FILTER helper_units INCLUDE REGEX "\\.cpp$")
  if(helper_units)
    set(own_helpers ${rel})
    add_library(test_helpers_${prefix} OBJECT ${helpers})
    target_include_directories(test_helpers_${prefix} PUBLIC ${CMAKE_SOURCE_DIR}/tests ${CMAKE_CURRENT_SOURCE_DIR})
    marrowby_precompile(test_helpers_${prefix} "${libs}" test)
    target_link_libraries(test_helpers_${prefix} PUBLIC ${libs} Qt6::Test)
    marrowby_link_test_helpers(test_helpers_${prefix} ${ARG_HELPERS})
  endif()
  foreach(src ${tests})
    get_filename_component(base ${src} NAME_WE)
    string(REPLACE "tst_" "" short ${base})
    set(target test_${prefix}_${short})
    add_executable(${target} ${src})
    target_link_libraries(${target} PRIVATE ${libs} Qt6::Test)
    marrowby_precompile(${target} "${libs}" test)
    target_include_directories(${target} PRIVATE ${CMAKE_SOURCE_DIR}/tests ${CMAKE_CURRENT_SOURCE_DIR})
    marrowby_link_test_helpers(${target} ${own_helpers} ${ARG_HELPERS})
    marrowby_add_test(${prefix}.${short} ${target})
  endforeach()
endfunction()

# Links the helpers of the named tests folders (as "peers" or "pages/search")
# into a target. The objects go to a target that links them directly, so each
# target names every folder whose helpers it runs.
function(marrowby_link_test_helpers target)
  foreach(folder ${ARGN})
    string(REPLACE "/" "_" name ${folder})
    get_target_property(type ${target} TYPE)
    if(type STREQUAL "OBJECT_LIBRARY")
      # Headers only: the objects are linked by the executables.
      target_include_directories(${target} PUBLIC ${CMAKE_SOURCE_DIR}/tests/${folder})
    else()
      target_link_libraries(${target} PRIVATE test_helpers_${name})
    endif()
  endforeach()
endfunction()

# Precompiles the common headers for a target: the window's set when it links
# a widget library, else the core's; "test" adds the test headers. The first
# target of a folder compiles them, the folder's other targets with the same
# kind reuse that (their compile flags are the same).
function(marrowby_precompile target libs kind)
  if(NOT MARROWBY_PCH)
    return()
  endif()
  set(headers ${CMAKE_SOURCE_DIR}/cmake/pch/core.h)
  if(libs MATCHES "Qt6::Widgets|shell|pages|mainwindow|application|guitest")
    set(headers ${CMAKE_SOURCE_DIR}/cmake/pch/widgets.h)
  endif()
  if(kind STREQUAL "test")
    list(APPEND headers ${CMAKE_SOURCE_DIR}/cmake/pch/test.h)
  endif()
  string(MD5 key "${CMAKE_CURRENT_SOURCE_DIR};${headers}")
  get_property(host DIRECTORY PROPERTY MARROWBY_PCH_${key})
  if(host)
    target_precompile_headers(${target} REUSE_FROM ${host})
  else()
    target_precompile_headers(${target} PRIVATE ${headers})
    set_property(DIRECTORY PROPERTY MARROWBY_PCH_${key} ${target})
  endif()
endfunction()

function(marrowby_add_test name target)
  set(home ${CMAKE_BINARY_DIR}/testhome/${name})
  file(MAKE_DIRECTORY ${home})
  add_test(NAME ${name} COMMAND ${target} ${ARGN})
  set_tests_properties(${name} PROPERTIES
    ENVIRONMENT "QT_QPA_PLATFORM=offscreen;HOME=${home};MARROWBY_BIN=${CMAKE_BINARY_DIR}/bin;MARROWBY_SOURCE=${CMAKE_SOURCE_DIR}"
    TIMEOUT 600)
endfunction()
