# The floors of src/, lowest first. A file includes headers of its own floor
# and of the floors below it; the arrows that may still go up are listed
# below with the one header each may take. Run as a script:
#   cmake -DSOURCE_DIR=<src> -P layers.cmake
# It prints every arrow between floors and fails on any include that goes up
# without being listed.
cmake_minimum_required(VERSION 3.25)

set(FLOORS core log comms screen transfer trace terminal commands auxwin app desktop)

# The features share the program-wide state through TSession&, which the
# composition root at the top declares: each of them may include the session
# header, and nothing else above it.
set(ALLOWED_UPWARD
  "transfer>app/session.h"
  "trace>app/session.h"
  "terminal>app/session.h"
  "commands>app/session.h")

if(NOT SOURCE_DIR)
  message(FATAL_ERROR "layers.cmake: SOURCE_DIR is not set")
endif()
# A relative path would glob nothing in script mode and pass every tree.
get_filename_component(SOURCE_DIR "${SOURCE_DIR}" ABSOLUTE)

set(violations "")
# A folder outside the list would escape the check.
file(GLOB children RELATIVE ${SOURCE_DIR} LIST_DIRECTORIES true ${SOURCE_DIR}/*)
foreach(child IN LISTS children)
  if(IS_DIRECTORY ${SOURCE_DIR}/${child} AND NOT child IN_LIST FLOORS)
    list(APPEND violations "${child}/: a folder that is no floor (add it to FLOORS in its place)")
  endif()
endforeach()
set(arrows "")
foreach(floor IN LISTS FLOORS)
  list(FIND FLOORS ${floor} level)
  file(GLOB_RECURSE files RELATIVE ${SOURCE_DIR} ${SOURCE_DIR}/${floor}/*.h ${SOURCE_DIR}/${floor}/*.cpp)
  foreach(file IN LISTS files)
    file(STRINGS ${SOURCE_DIR}/${file} lines REGEX "^[ \t]*#[ \t]*include[ \t]*[\"<]")
    foreach(line IN LISTS lines)
      if(NOT line MATCHES "include[ \t]*[\"<]([^\">]+)[\">]")
        continue()
      endif()
      set(header ${CMAKE_MATCH_1})
      if(header MATCHES "^\\.\\./")
        list(APPEND violations "${file}: ${header} (a path out of its folder hides the floor)")
        continue()
      endif()
      if(NOT header MATCHES "^([^/]+)/")
        continue()
      endif()
      set(target ${CMAKE_MATCH_1})
      list(FIND FLOORS ${target} targetLevel)
      if(targetLevel EQUAL -1 OR target STREQUAL floor)
        continue()
      endif()
      list(APPEND arrows "${floor}>${target}")
      if(targetLevel GREATER level)
        list(FIND ALLOWED_UPWARD "${floor}>${header}" allowed)
        if(allowed EQUAL -1)
          list(APPEND violations "${file}: ${header} (${floor} is below ${target})")
        endif()
      endif()
    endforeach()
  endforeach()
endforeach()

list(REMOVE_DUPLICATES arrows)
set(upward 0)
foreach(arrow IN LISTS arrows)
  string(REPLACE ">" ";" ends ${arrow})
  list(GET ends 0 from)
  list(GET ends 1 to)
  list(FIND FLOORS ${from} fromLevel)
  list(FIND FLOORS ${to} toLevel)
  if(toLevel GREATER fromLevel)
    math(EXPR upward "${upward} + 1")
    message(STATUS "up   ${from} -> ${to}")
  endif()
endforeach()
list(JOIN FLOORS " < " order)
message(STATUS "floors: ${order}; upward arrows: ${upward}")

if(violations)
  list(JOIN violations "\n  " text)
  message(FATAL_ERROR "the floors do not hold:\n  ${text}")
endif()
