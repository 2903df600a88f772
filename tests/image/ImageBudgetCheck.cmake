# The budget check must refuse what it guards against: an image over its
# budget, named with its size, and a section both writable and executable.
# The tool's own objects are linked again with the text made writable.
# Run by CTest: cmake -DPYTHON=... -DCHECK=... -DLINK=... -DIMAGE=... -DOBJECTS=a.obj|b.obj...
#                     -DWORK_DIR=... -P ImageBudgetCheck.cmake

file(MAKE_DIRECTORY "${WORK_DIR}")
set(FAILURES "")

function(expect_refusal WHAT IMAGE_FILE BUDGET NAMED)
  execute_process(
    COMMAND "${PYTHON}" "${CHECK}" "${IMAGE_FILE}" "${BUDGET}"
    RESULT_VARIABLE RESULT
    OUTPUT_VARIABLE OUTPUT
    ERROR_VARIABLE OUTPUT)
  string(FIND "${OUTPUT}" "${NAMED}" AT)
  if(NOT RESULT EQUAL 1 OR AT EQUAL -1)
    set(FAILURES "${FAILURES}${WHAT}: not refused with \"${NAMED}\" (status ${RESULT}):\n${OUTPUT}\n" PARENT_SCOPE)
  endif()
endfunction()

file(SIZE "${IMAGE}" SIZE)
math(EXPR UNDER "${SIZE} - 1")
expect_refusal("one byte over" "${IMAGE}" ${UNDER} "is ${SIZE} bytes, over its budget of ${UNDER} bytes by 1")

string(REPLACE "|" ";" OBJECTS "${OBJECTS}")
set(WRITABLE_CODE "${WORK_DIR}/writable_code.efi")
execute_process(
  COMMAND "${LINK}" /nologo /subsystem:efi_application /entry:ModuleEntryPoint /nodefaultlib /machine:x64
          /merge:.rdata=.text /section:.text,RWE /out:${WRITABLE_CODE} ${OBJECTS}
  RESULT_VARIABLE RESULT
  ERROR_VARIABLE MESSAGE)
if(NOT RESULT EQUAL 0)
  message(FATAL_ERROR "the image with writable code does not link:\n${MESSAGE}")
endif()
expect_refusal("writable code" "${WRITABLE_CODE}" ${SIZE} "section .text is both writable and executable")

if(FAILURES)
  message(FATAL_ERROR "${FAILURES}")
endif()
