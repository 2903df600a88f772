# add_efi_image(NAME SUBSYSTEM SOURCES...): builds NAME.efi in build/efi with
# clang++ for the freestanding x86_64 UEFI target and lld-link. The image
# links nothing but its own objects. The warnings are the host build's,
# ZK48_WARNINGS, which the includer sets.
#
# -mgeneral-regs-only: whether the SSE registers work when an image starts is
# the firmware's choice, and one that leaves them off stops the image at the
# first instruction that uses them. The tool does no floating point; the
# compiler would use them only to clear and copy memory faster.
#
# -Oz: the tool must fit in 20 KiB; its time goes to the chip's write cycle
# and the bus, not to the instructions between them.
#
# /merge:.rdata=.text: read-only data joins the code, read-only and
# executable, which saves a section's header and padding; the writable data
# stays apart, never executable, for firmware that maps each section so.

find_program(EFI_CLANGXX NAMES clang++-14 clang++ REQUIRED)
find_program(EFI_LLD_LINK NAMES lld-link-14 lld-link REQUIRED)

set(EFI_OUTPUT_DIR ${CMAKE_BINARY_DIR}/efi)
set(EFI_CXX_FLAGS
  --target=x86_64-unknown-windows -std=c++20 -ffreestanding -fno-exceptions -fno-rtti
  -fno-stack-protector -mno-red-zone -mno-stack-arg-probe -fshort-wchar -mgeneral-regs-only -Oz
  ${ZK48_WARNINGS}
  -I${CMAKE_SOURCE_DIR})

function(add_efi_image NAME SUBSYSTEM)
  set(objects)
  foreach(source ${ARGN})
    string(REPLACE "/" "_" object_name ${source})
    set(object ${EFI_OUTPUT_DIR}/obj/${NAME}/${object_name}.obj)
    add_custom_command(
      OUTPUT ${object}
      COMMAND ${CMAKE_COMMAND} -E make_directory ${EFI_OUTPUT_DIR}/obj/${NAME}
      COMMAND ${EFI_CLANGXX} ${EFI_CXX_FLAGS} -MD -MF ${object}.d -c ${CMAKE_SOURCE_DIR}/${source} -o ${object}
      DEPFILE ${object}.d
      DEPENDS ${CMAKE_SOURCE_DIR}/${source}
      COMMENT "EFI ${source}"
      VERBATIM)
    list(APPEND objects ${object})
  endforeach()
  set(image ${EFI_OUTPUT_DIR}/${NAME}.efi)
  # The map tells the image checks (tests/image/) where the globals lie.
  set(map ${EFI_OUTPUT_DIR}/${NAME}.map)
  add_custom_command(
    OUTPUT ${image}
    BYPRODUCTS ${map}
    COMMAND ${EFI_LLD_LINK} /nologo /subsystem:${SUBSYSTEM} /entry:ModuleEntryPoint /nodefaultlib
            /machine:x64 /merge:.rdata=.text /out:${image} /map:${map} ${objects}
    DEPENDS ${objects}
    COMMENT "Linking ${NAME}.efi"
    VERBATIM)
  add_custom_target(${NAME}_efi ALL DEPENDS ${image})
  set_target_properties(${NAME}_efi PROPERTIES ZK48_SOURCES "${ARGN}")
endfunction()
