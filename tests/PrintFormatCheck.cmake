# Print checks its format against its arguments when the tool is compiled.
# Each snippet below that hands a conversion the wrong kind of argument, too
# few or too many, must fail to compile at that check; the well-formed ones
# must compile. Run by CTest: cmake -DCXX=... -DSOURCE_DIR=... -DWORK_DIR=... -P.

set(MUST_NOT_COMPILE
  [=[Print ("%d", u"text")]=]
  [=[Print ("%s", 5)]=]
  [=[Print ("%lx", (UINT32)1)]=]
  [=[Print ("%x", (UINT64)1)]=]
  [=[Print ("%2.2X", (UINT64)1)]=]
  [=[Print ("%r", (UINT32)0)]=]
  [=[Print ("%d")]=]
  [=[Print ("%s %d", u"text")]=]
  [=[Print ("%d", 1, 2)]=]
  [=[Print ("no conversion\n", 1)]=]
  [=[Print ("%s", "narrow")]=]
  [=[Print ("%a", u"wide")]=]
  [=[Print ("%s", (const UINT8 *)0)]=]
  [=[Print ("%d", 1.5)]=]
  [=[Print ("%d", true)]=]
  [=[Print ("%c", 1)]=]
  [=[Print (mFormatKnownOnlyAtRunTime, 1)]=])

set(MUST_COMPILE
  [=[Print (" Software version: %d.%d.%d\n", 2, 7, 2)]=]
  [=[Print (" %2.2X %4.4X %x %lx %s %r %%\n", (UINT8)1, (UINT16)2, (UINT32)3, (UINT64)4, u"x", EFI_SUCCESS)]=]
  [=[Print (" (%r%a)", EFI_SUCCESS, "narrow")]=]
  [=[Print ("plain\n")]=])

# The mark of the format check in the compiler's message, so that a snippet
# failing for another reason does not pass for one the check refused.
set(CHECK_MARK "consteval function 'PRINT_FORMAT")

file(MAKE_DIRECTORY "${WORK_DIR}")
set(FAILURES "")
set(INDEX 0)

function(try_snippet BODY RESULT_OUT MESSAGE_OUT)
  set(SOURCE "${WORK_DIR}/snippet_${INDEX}.cpp")
  file(WRITE "${SOURCE}"
    "#include \"platform/PrintLib.h\"\n"
    "extern const CHAR8 *mFormatKnownOnlyAtRunTime;\n"
    "void Snippet () { ${BODY}; }\n")
  execute_process(
    COMMAND "${CXX}" -std=c++20 -fsyntax-only "-I${SOURCE_DIR}" "${SOURCE}"
    RESULT_VARIABLE RESULT
    OUTPUT_VARIABLE MESSAGE
    ERROR_VARIABLE MESSAGE)
  set(${RESULT_OUT} "${RESULT}" PARENT_SCOPE)
  set(${MESSAGE_OUT} "${MESSAGE}" PARENT_SCOPE)
endfunction()

foreach(BODY IN LISTS MUST_NOT_COMPILE)
  math(EXPR INDEX "${INDEX} + 1")
  try_snippet("${BODY}" RESULT MESSAGE)
  if(RESULT EQUAL 0)
    string(APPEND FAILURES "compiled, but must not: ${BODY}\n")
  else()
    string(FIND "${MESSAGE}" "${CHECK_MARK}" AT)
    if(AT EQUAL -1)
      string(APPEND FAILURES "failed for another reason than the format check: ${BODY}\n${MESSAGE}\n")
    endif()
  endif()
endforeach()

foreach(BODY IN LISTS MUST_COMPILE)
  math(EXPR INDEX "${INDEX} + 1")
  try_snippet("${BODY}" RESULT MESSAGE)
  if(NOT RESULT EQUAL 0)
    string(APPEND FAILURES "did not compile, but must: ${BODY}\n${MESSAGE}\n")
  endif()
endforeach()

if(FAILURES)
  message(FATAL_ERROR "${FAILURES}")
endif()

list(LENGTH MUST_NOT_COMPILE REFUSED)
list(LENGTH MUST_COMPILE ACCEPTED)
message(STATUS "format check: ${REFUSED} snippets refused, ${ACCEPTED} accepted")
