# qv_version_resource(TARGET RC-FILE VERSION): generates qv_version.h for the
# version resource RC-FILE of TARGET, with VERSION ("4.0.0.0") as
# QV_VERSION_NUMBERS (4, 0, 0, 0) and QV_VERSION_TEXT ("4.0.0.0"), in a folder
# of the target's own that the .rc file includes from.
function(qv_version_resource target rc version)
  if(NOT version MATCHES "^[0-9]+\\.[0-9]+\\.[0-9]+\\.[0-9]+$")
    message(FATAL_ERROR "${target}: version '${version}' is not four numbers (cmake/versions.cmake)")
  endif()
  set(qv_version ${version})
  string(REPLACE "." ", " qv_numbers ${version})
  set(dir ${CMAKE_CURRENT_BINARY_DIR}/${target}_version)
  configure_file(${PROJECT_SOURCE_DIR}/cmake/qv_version.h.in ${dir}/qv_version.h @ONLY)
  target_include_directories(${target} PRIVATE ${dir})
  set_property(SOURCE ${rc} APPEND PROPERTY OBJECT_DEPENDS ${dir}/qv_version.h)
endfunction()
