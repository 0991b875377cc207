# qr_add_netns_test(NAME SOURCES ... LIBS ... [RESOURCE_LOCK ...]): a Qt Test executable that starts
# network listeners; CTest runs it inside a loopback-only network namespace.
function(qr_add_netns_test name)
  cmake_parse_arguments(A "" "" "SOURCES;LIBS;RESOURCE_LOCK" ${ARGN})
  add_executable(${name} ${A_SOURCES})
  target_link_libraries(${name} PRIVATE qr_options Qt6::Test ${A_LIBS})
  add_test(NAME ${name} COMMAND ${PROJECT_SOURCE_DIR}/tests/mvc/run-in-netns.sh $<TARGET_FILE:${name}>)
  set_tests_properties(${name} PROPERTIES
    ENVIRONMENT "QT_QPA_PLATFORM=offscreen;QT_LOGGING_RULES=qt.qpa.*=false"
    TIMEOUT 300 LABELS "mvc;network")
  if(A_RESOURCE_LOCK)
    set_tests_properties(${name} PROPERTIES RESOURCE_LOCK "${A_RESOURCE_LOCK}")
  endif()
endfunction()
