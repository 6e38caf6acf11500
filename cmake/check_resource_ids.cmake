# Fails when a resource identifier header defines one name twice, or gives
# one number to two names. Every definition must be a plain decimal or
# hexadecimal number, so that no duplicate can hide behind an expression.
#
#   cmake -DHEADER=resources/resource_ids.h -P cmake/check_resource_ids.cmake
if(NOT DEFINED HEADER)
  message(FATAL_ERROR "check_resource_ids: set HEADER to the header to check")
endif()
if(NOT EXISTS "${HEADER}")
  message(FATAL_ERROR "check_resource_ids: ${HEADER} does not exist")
endif()

file(STRINGS "${HEADER}" lines)
set(problems "")
set(names "")
set(line_number 0)
foreach(line IN LISTS lines)
  math(EXPR line_number "${line_number} + 1")
  if(NOT line MATCHES "^[ \t]*#[ \t]*define[ \t]")
    continue()
  endif()
  if(NOT line MATCHES "^[ \t]*#[ \t]*define[ \t]+([A-Za-z_][A-Za-z0-9_]*)[ \t]+(0[xX][0-9A-Fa-f]+|[0-9]+)[ \t]*(//.*)?$")
    string(APPEND problems "\n  line ${line_number}: not a name and a plain number: ${line}")
    continue()
  endif()
  set(name "${CMAKE_MATCH_1}")
  math(EXPR value "${CMAKE_MATCH_2}")
  if(DEFINED seen_name_${name})
    string(APPEND problems
           "\n  line ${line_number}: ${name} defined again (first on line ${seen_name_${name}})")
    continue()
  endif()
  set(seen_name_${name} ${line_number})
  if(DEFINED seen_value_${value})
    string(APPEND problems
           "\n  line ${line_number}: ${name} = ${value}, already taken by ${seen_value_${value}}")
    continue()
  endif()
  set(seen_value_${value} ${name})
  list(APPEND names ${name})
endforeach()

if(problems)
  message(FATAL_ERROR "Duplicate or unreadable resource identifiers in ${HEADER}:${problems}")
endif()
list(LENGTH names count)
message(STATUS "${HEADER}: ${count} identifiers, each name and number once")
