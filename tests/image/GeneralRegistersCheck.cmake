# The image check for SSE, AVX and MMX instructions must see each kind. Each
# sample of VectorSamples.cpp is compiled for the firmware target with the
# images' flags less -mgeneral-regs-only, plus the case's own, and the check
# must refuse the object, naming what it found; the structure cleared as the
# images are built, with -mgeneral-regs-only, must pass.
# Run by CTest: cmake -DCXX=... -DFLAGS=... -DPYTHON=... -DCHECK=... -DOBJDUMP=...
#                     -DSOURCE=... -DWORK_DIR=... -P GeneralRegistersCheck.cmake

# name, sample, added flag (- for none), what the refusal names (- for a pass)
set(CASES
  "sse STRUCT_CLEAR - xmm0"
  "avx STRUCT_CLEAR -mavx2 ymm0"
  "mmx MMX - paddb"
  "mxcsr MXCSR - stmxcsr"
  "general STRUCT_CLEAR -mgeneral-regs-only -")

list(REMOVE_ITEM FLAGS -mgeneral-regs-only)
file(MAKE_DIRECTORY "${WORK_DIR}")
set(FAILURES "")

foreach(CASE IN LISTS CASES)
  separate_arguments(FIELDS UNIX_COMMAND "${CASE}")
  list(GET FIELDS 0 NAME)
  list(GET FIELDS 1 SAMPLE)
  list(GET FIELDS 2 ADDED)
  list(GET FIELDS 3 NAMED)
  if(ADDED STREQUAL "-")
    set(ADDED "")
  endif()
  set(OBJECT "${WORK_DIR}/${NAME}.obj")
  execute_process(
    COMMAND "${CXX}" ${FLAGS} ${ADDED} -DSAMPLE_${SAMPLE} -c "${SOURCE}" -o "${OBJECT}"
    RESULT_VARIABLE RESULT
    ERROR_VARIABLE MESSAGE)
  if(NOT RESULT EQUAL 0)
    message(FATAL_ERROR "${NAME}: the sample does not compile:\n${MESSAGE}")
  endif()
  execute_process(
    COMMAND "${PYTHON}" "${CHECK}" "${OBJDUMP}" "${OBJECT}"
    RESULT_VARIABLE RESULT
    OUTPUT_VARIABLE OUTPUT
    ERROR_VARIABLE OUTPUT)
  if(NAMED STREQUAL "-")
    if(NOT RESULT EQUAL 0)
      string(APPEND FAILURES "${NAME}: refused (status ${RESULT}):\n${OUTPUT}\n")
    endif()
  else()
    string(FIND "${OUTPUT}" "${NAMED}" AT)
    if(NOT RESULT EQUAL 1 OR AT EQUAL -1)
      string(APPEND FAILURES "${NAME}: not refused with ${NAMED} named (status ${RESULT}):\n${OUTPUT}\n")
    endif()
  endif()
endforeach()

if(FAILURES)
  message(FATAL_ERROR "${FAILURES}")
endif()
