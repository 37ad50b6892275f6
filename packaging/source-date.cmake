# Read by cpack before it packages: the package's file times are the last
# commit's (SOURCE_DATE_EPOCH, which cpack's Debian generator honours), so
# packaging one commit again gives the same .deb. A time the caller set
# stays.
if(DEFINED ENV{SOURCE_DATE_EPOCH})
  return()
endif()
execute_process(COMMAND git -C "${CPACK_KADRIX_SOURCE_DIR}" log -1 --format=%ct
                OUTPUT_VARIABLE epoch OUTPUT_STRIP_TRAILING_WHITESPACE RESULT_VARIABLE failed ERROR_QUIET)
if(NOT failed AND epoch MATCHES "^[0-9]+$")
  set(ENV{SOURCE_DATE_EPOCH} ${epoch})
else()
  message(WARNING "${CPACK_KADRIX_SOURCE_DIR} has no commit to date the package by; "
                  "set SOURCE_DATE_EPOCH for a package that is the same each time")
endif()
