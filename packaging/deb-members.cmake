# Run by cpack once a package is made. A .deb is an ar archive whose member
# headers carry the owner and mode of the files cpack wrote its members to,
# so the same package came out as other bytes under another umask (0640
# members under 027) or user. Each header gets what dpkg-deb writes: owner
# 0, group 0, mode 100644.
foreach(deb IN LISTS CPACK_PACKAGE_FILES)
  if(NOT deb MATCHES "\\.deb$")
    continue()
  endif()
  file(SIZE "${deb}" size)
  set(fixed "${deb}.header")
  file(WRITE "${fixed}" "0     0     100644  ")
  # "!<arch>\n", then a 60-byte header before each member, whose size is
  # its decimal field at bytes 48-57; a member of odd size is padded to even.
  set(at 8)
  while(at LESS size)
    file(READ "${deb}" header OFFSET ${at} LIMIT 60)
    string(SUBSTRING "${header}" 58 2 magic)
    if(NOT magic STREQUAL "`\n")
      message(FATAL_ERROR "${deb}: no ar member header at byte ${at}")
    endif()
    string(SUBSTRING "${header}" 48 10 length)
    string(STRIP "${length}" length)
    math(EXPR owner "${at} + 28")
    execute_process(COMMAND dd "of=${deb}" bs=1 seek=${owner} count=20 conv=notrunc status=none
                    INPUT_FILE "${fixed}" RESULT_VARIABLE failed)
    if(failed)
      message(FATAL_ERROR "${deb}: could not rewrite the ar member header at byte ${at}")
    endif()
    math(EXPR at "${at} + 60 + ${length} + ${length} % 2")
  endwhile()
  file(REMOVE "${fixed}")
endforeach()
