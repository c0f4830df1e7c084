# The release version, kept in one place: the VERSION file at the top of the
# tree. Read before project() so that the project carries it too.
file(STRINGS ${CMAKE_CURRENT_LIST_DIR}/../VERSION VANTOR_VERSION LIMIT_COUNT 1)
if(NOT VANTOR_VERSION MATCHES "^([0-9]+)\\.([0-9]+)\\.([0-9]+)$")
  message(FATAL_ERROR "VERSION must read MAJOR.MINOR.PATCH, not '${VANTOR_VERSION}'")
endif()
set(VANTOR_VERSION_MAJOR ${CMAKE_MATCH_1})
set(VANTOR_VERSION_MINOR ${CMAKE_MATCH_2})
set(VANTOR_VERSION_PATCH ${CMAKE_MATCH_3})
set(VANTOR_VERSION_RC_TEMPLATE ${CMAKE_CURRENT_LIST_DIR}/version.rc.in)

# vantor_version_resource(target file-name description): links a VERSIONINFO
# resource (file and product version, company, description, product name)
# into a Windows deliverable, compiled by the toolchain's windres. A plain
# custom command, so that the compile options of C and C++ never reach
# windres.
function(vantor_version_resource target file_name description)
  if(NOT WIN32)
    return()
  endif()
  get_target_property(type ${target} TYPE)
  if(type STREQUAL "SHARED_LIBRARY")
    set(VANTOR_FILE_TYPE 2) # VFT_DLL
  else()
    set(VANTOR_FILE_TYPE 1) # VFT_APP
  endif()
  set(VANTOR_FILE_NAME ${file_name})
  get_filename_component(VANTOR_INTERNAL_NAME ${file_name} NAME_WE)
  set(VANTOR_FILE_DESCRIPTION ${description})
  set(rc ${CMAKE_CURRENT_BINARY_DIR}/${target}.version.rc)
  set(object ${CMAKE_CURRENT_BINARY_DIR}/${target}.version.o)
  configure_file(${VANTOR_VERSION_RC_TEMPLATE} ${rc} @ONLY)
  add_custom_command(OUTPUT ${object}
    COMMAND ${CMAKE_RC_COMPILER} -O coff -i ${rc} -o ${object}
    DEPENDS ${rc} ${VANTOR_VERSION_RC_TEMPLATE}
    COMMENT "Version resource of ${file_name}"
    VERBATIM)
  target_sources(${target} PRIVATE ${object})
endfunction()
