# Runs a command and checks how it ends: its exit status, and what it says on stderr.
#
#   cmake -DSTATUS=<n> [-DMESSAGE=<regex>] [-DLINES=<n>] [-DOUTPUT=<file>]
#         -P exit_status.cmake <command> [<argument>...]
#
# MESSAGE must match stderr's first line, LINES is how many lines stderr has, and OUTPUT is
# the file stdout goes to (/dev/null unless given).
# The command is what follows the script's own path.
set(command)
set(after_script -1)
math(EXPR last "${CMAKE_ARGC} - 1")
foreach(index RANGE ${last})
  if(after_script EQUAL 1)
    list(APPEND command "${CMAKE_ARGV${index}}")
  elseif(after_script EQUAL 0 OR CMAKE_ARGV${index} STREQUAL "-P")
    math(EXPR after_script "${after_script} + 1")
  endif()
endforeach()
if(NOT DEFINED OUTPUT)
  set(OUTPUT /dev/null)
endif()

execute_process(COMMAND ${command} RESULT_VARIABLE status OUTPUT_FILE ${OUTPUT}
                ERROR_VARIABLE stderr)
string(REGEX MATCH "^[^\n]*" first_line "${stderr}")
string(REGEX MATCHALL "\n" newlines "${stderr}")
list(LENGTH newlines lines)

set(problems)
if(NOT status STREQUAL STATUS)
  string(APPEND problems "exit status ${status}, expected ${STATUS}\n")
endif()
if(DEFINED MESSAGE AND NOT first_line MATCHES "${MESSAGE}")
  string(APPEND problems "first line on stderr does not match '${MESSAGE}'\n")
endif()
if(DEFINED LINES AND NOT lines EQUAL LINES)
  string(APPEND problems "${lines} lines on stderr, expected ${LINES}\n")
endif()
if(problems)
  message(FATAL_ERROR "${command}\n${problems}stderr:\n${stderr}")
endif()
