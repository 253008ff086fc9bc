# The one version number is the project() line's. fw_version.h carries it to the code and the
# resource scripts; fw_add_version_resource gives a Windows executable a version resource.
configure_file(${CMAKE_CURRENT_LIST_DIR}/fw_version.h.in ${CMAKE_BINARY_DIR}/generated/fw_version.h
               @ONLY)

# fw_add_version_resource(TARGET DESCRIPTION): Windows build only; elsewhere it does nothing.
function(fw_add_version_resource target description)
  if(NOT WIN32)
    return()
  endif()
  set(FW_RC_NAME ${target})
  set(FW_RC_FILE ${target}.exe)
  set(FW_RC_DESCRIPTION "${description}")
  set(rc ${CMAKE_CURRENT_BINARY_DIR}/${target}_version.rc)
  configure_file(${CMAKE_SOURCE_DIR}/cmake/fw_versioninfo.rc.in ${rc} @ONLY)
  set_source_files_properties(${rc} PROPERTIES
    OBJECT_DEPENDS ${CMAKE_BINARY_DIR}/generated/fw_version.h)
  target_sources(${target} PRIVATE ${rc})
endfunction()
