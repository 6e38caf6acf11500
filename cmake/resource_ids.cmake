# nlconf_check_resource_ids(target): before target is built, fail the build
# when resources/resource_ids.h defines a name or a number twice. The check
# runs again whenever the header changes.
set(NLCONF_RESOURCE_IDS_CHECK ${CMAKE_CURRENT_LIST_DIR}/check_resource_ids.cmake)

function(nlconf_check_resource_ids target)
  set(header ${PROJECT_SOURCE_DIR}/resources/resource_ids.h)
  set(stamp ${CMAKE_CURRENT_BINARY_DIR}/${target}_resource_ids.checked)
  add_custom_command(
    OUTPUT ${stamp}
    COMMAND ${CMAKE_COMMAND} -DHEADER=${header} -P ${NLCONF_RESOURCE_IDS_CHECK}
    COMMAND ${CMAKE_COMMAND} -E touch ${stamp}
    DEPENDS ${header} ${NLCONF_RESOURCE_IDS_CHECK}
    COMMENT "Checking that each resource identifier is defined once"
    VERBATIM)
  add_custom_target(${target}_resource_ids DEPENDS ${stamp})
  add_dependencies(${target} ${target}_resource_ids)
endfunction()
