# Shared settings and helpers for every target of the project.

add_library(qr_options INTERFACE)
target_compile_options(qr_options INTERFACE -Wall -Wextra -Wpedantic -Wshadow)
target_compile_definitions(qr_options INTERFACE QT_NO_FOREACH QT_NO_KEYWORDS)
target_include_directories(qr_options INTERFACE ${PROJECT_SOURCE_DIR}/src)
if(QR_SANITIZE)
  target_compile_options(qr_options INTERFACE -fsanitize=address,undefined -fno-omit-frame-pointer
                                              -fno-sanitize-recover=undefined)
  target_link_options(qr_options INTERFACE -fsanitize=address,undefined)
endif()
if(QR_TSAN)
  target_compile_options(qr_options INTERFACE -fsanitize=thread -fno-omit-frame-pointer)
  target_link_options(qr_options INTERFACE -fsanitize=thread)
endif()

# qr_add_library(NAME SOURCES ... LIBS ...): a static library of the core.
function(qr_add_library name)
  cmake_parse_arguments(A "" "" "SOURCES;LIBS" ${ARGN})
  add_library(${name} STATIC ${A_SOURCES})
  target_link_libraries(${name} PUBLIC qr_options ${A_LIBS})
endfunction()

# qr_add_test(NAME SOURCES ... LIBS ... [LABELS ...] [RESOURCE_LOCK ...]): one Qt Test executable,
# registered with CTest and run on the offscreen platform.
function(qr_add_test name)
  cmake_parse_arguments(A "" "" "SOURCES;LIBS;LABELS;RESOURCE_LOCK" ${ARGN})
  add_executable(${name} ${A_SOURCES})
  target_link_libraries(${name} PRIVATE qr_options Qt6::Test ${A_LIBS})
  add_test(NAME ${name} COMMAND ${name})
  set_tests_properties(${name} PROPERTIES
    ENVIRONMENT "QT_QPA_PLATFORM=offscreen;QT_LOGGING_RULES=qt.qpa.*=false"
    TIMEOUT 300)
  if(A_LABELS)
    set_tests_properties(${name} PROPERTIES LABELS "${A_LABELS}")
  endif()
  if(A_RESOURCE_LOCK)
    set_tests_properties(${name} PROPERTIES RESOURCE_LOCK "${A_RESOURCE_LOCK}")
  endif()
endfunction()

# Adds every listed sub-folder that has a CMakeLists.txt; each subsystem owns its own.
function(qr_add_subdirs)
  foreach(d ${ARGN})
    if(EXISTS ${CMAKE_CURRENT_SOURCE_DIR}/${d}/CMakeLists.txt)
      add_subdirectory(${d})
    endif()
  endforeach()
endfunction()
