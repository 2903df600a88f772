# The simulated firmware leaves a run that exceeds its call budget by a
# longjmp through the tool's frames back to RunImage. That is sound only
# while no object on those frames has a non-trivial destructor, which the
# jump would skip; the compiler, not a text search, says which classes
# have one. Run by CTest: cmake -DCXX=... -DSOURCE_DIR=... -DSOURCES=a.cpp;b.cpp -P.

set(FAILURES "")
set(CHECKED 0)

foreach(SOURCE IN LISTS SOURCES)
  # Each class definition, then the verdict on its destructor a few lines below it.
  execute_process(
    COMMAND "${CXX}" -std=c++20 -fno-exceptions -fno-rtti -fsyntax-only "-I${SOURCE_DIR}"
            -Xclang -ast-dump "${SOURCE_DIR}/${SOURCE}"
    COMMAND grep -E "CXXRecordDecl .* definition$|-Destructor "
    RESULTS_VARIABLE RESULTS
    OUTPUT_VARIABLE DUMP
    ERROR_VARIABLE MESSAGE)
  list(GET RESULTS 0 RESULT)
  if(NOT RESULT EQUAL 0)
    string(APPEND FAILURES "${SOURCE} did not compile:\n${MESSAGE}\n")
    continue()
  endif()

  string(REPLACE "\n" ";" LINES "${DUMP}")
  set(RECORD "")
  foreach(LINE IN LISTS LINES)
    if(LINE MATCHES "CXXRecordDecl .* definition$")
      set(RECORD "${LINE}")
    elseif(LINE MATCHES "-Destructor .*non_trivial")
      string(REGEX REPLACE "^.*CXXRecordDecl 0x[0-9a-f]+ " "" RECORD "${RECORD}")
      string(APPEND FAILURES "${SOURCE}: a class with a non-trivial destructor: ${RECORD}\n")
    endif()
  endforeach()
  math(EXPR CHECKED "${CHECKED} + 1")
endforeach()

if(CHECKED EQUAL 0)
  string(APPEND FAILURES "no source checked\n")
endif()

if(FAILURES)
  message(FATAL_ERROR "${FAILURES}")
endif()

message(STATUS "trivial destructors: ${CHECKED} sources of the tool checked")
