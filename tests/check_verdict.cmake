# The verdict of a check over object files that looks for what may not be
# there (tests/alloc): with EXPECT set, it passes only when exactly those
# findings are made (the check of the check); otherwise only when none is.
#
#   check_verdict(<check> "<found>" "<report>" <what is wrong> <what is right>)

function(check_verdict check found report wrong right)
  if(DEFINED EXPECT)
    list(SORT found)
    set(want ${EXPECT})
    list(SORT want)
    if(NOT found STREQUAL want)
      message(FATAL_ERROR "${check}: expected [${want}], found [${found}]\n${report}")
    endif()
    message(STATUS "${check} finds: ${found}")
  elseif(found)
    message(FATAL_ERROR "${wrong}:\n${report}")
  else()
    message(STATUS "${right}")
  endif()
endfunction()
