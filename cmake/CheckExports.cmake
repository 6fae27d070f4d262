# Asserts a built module's export table holds exactly the renderer's four
# entry points, written out here rather than taken from the list that makes
# the export files, so a wrong list is caught; for an ELF module, that it
# imports no allocator; for a Windows DLL, that it is named Klarvoss.dll and
# needs no runtime DLL beyond KERNEL32.dll and msvcrt.dll. Then, for the
# module or (PROGRAM) the stand-in renderer, the protections it carries,
# each read back from the file. OBJECT is one of the file's compiled
# objects, for what only an object shows. Keep in step with the README's
# Hardening table.

# Each protection: the dump it shows in, and the text that shows it.
function(require_protection what dump pattern)
  if(NOT "${dump}" MATCHES "${pattern}")
    message(FATAL_ERROR "${MODULE} lacks ${what}")
  endif()
  message(STATUS "${what}: yes")
endfunction()

if(WINDOWS)
  execute_process(COMMAND ${OBJDUMP} -p ${MODULE} OUTPUT_VARIABLE dump COMMAND_ERROR_IS_FATAL ANY)
  execute_process(COMMAND ${OBJDUMP} -t ${OBJECT} OUTPUT_VARIABLE symbols COMMAND_ERROR_IS_FATAL ANY)
  require_protection("ASLR (DYNAMIC_BASE)" "${dump}" "\n\t+DYNAMIC_BASE\n")
  require_protection("NX (NX_COMPAT)" "${dump}" "\n\t+NX_COMPAT\n")
  if(dump MATCHES "Magic\t+020b")  # PE32+: 64-bit
    require_protection("high-entropy ASLR (HIGH_ENTROPY_VA)" "${dump}" "\n\t+HIGH_ENTROPY_VA\n")
  endif()
  require_protection("stack protector (its guard read)" "${symbols}" " _+stack_chk_guard\n")
else()
  execute_process(COMMAND ${READELF} -lW -dW -hW --dyn-syms ${MODULE} OUTPUT_VARIABLE dump
                  COMMAND_ERROR_IS_FATAL ANY)
  execute_process(COMMAND ${READELF} -nW ${OBJECT} OUTPUT_VARIABLE notes COMMAND_ERROR_IS_FATAL ANY)
  execute_process(COMMAND ${OBJDUMP} -d --no-show-raw-insn ${MODULE} OUTPUT_VARIABLE code
                  COMMAND_ERROR_IS_FATAL ANY)
  require_protection("RELRO (GNU_RELRO)" "${dump}" "\n +GNU_RELRO ")
  require_protection("immediate binding (BIND_NOW)" "${dump}" "[(]FLAGS[)] +BIND_NOW")
  require_protection("stack protector (__stack_chk_fail imported)" "${dump}" " UND __stack_chk_fail@")
  if(NOT SANITIZED)  # the sanitizers' builds leave _FORTIFY_SOURCE out
    require_protection("_FORTIFY_SOURCE (a checked call imported)" "${dump}" " UND __[a-z]+_chk@")
  endif()
  require_protection("CET property note (compiled code)" "${notes}" "x86 feature: IBT, SHSTK")
  # An entry point reached by an indirect call begins with a landing pad.
  if(PROGRAM)
    set(entry main)
  else()
    set(entry Klarvoss)
  endif()
  require_protection("CET landing pad (endbr64 opening ${entry})" "${code}"
                     "\n[0-9a-f]+ <${entry}>:\n *[0-9a-f]+:\tendbr64")
  if(PROGRAM)
    require_protection("PIE" "${dump}" "Type: +DYN [(]Position-Independent Executable")
  endif()
endif()
if(PROGRAM)
  return()
endif()

if(WINDOWS)
  execute_process(COMMAND ${OBJDUMP} -p ${MODULE} OUTPUT_VARIABLE dump COMMAND_ERROR_IS_FATAL ANY)
  string(REGEX MATCHALL "\n\t\\[ *[0-9]+\\] [^\n]+" rows "${dump}")
  set(found)
  foreach(row IN LISTS rows)
    if(NOT row MATCHES "Export RVA|Forwarder RVA")  # the address table, not the names
      string(REGEX REPLACE ".*\\] " "" name "${row}")
      list(APPEND found ${name})
    endif()
  endforeach()
  string(REGEX MATCH "\nName [^\n]*" module_name "${dump}")
  string(REGEX REPLACE ".* " "" module_name "${module_name}")
  if(NOT module_name STREQUAL "Klarvoss.dll")
    message(FATAL_ERROR "export table names the module '${module_name}', not Klarvoss.dll")
  endif()
  string(REGEX MATCHALL "DLL Name: [^\n]+" imports "${dump}")
  list(TRANSFORM imports REPLACE "DLL Name: " "")
  list(SORT imports)
  if(NOT imports STREQUAL "KERNEL32.dll;msvcrt.dll")
    message(FATAL_ERROR "imports ${imports}; only KERNEL32.dll and msvcrt.dll may be needed")
  endif()
else()
  execute_process(COMMAND ${OBJDUMP} -T ${MODULE} OUTPUT_VARIABLE dump COMMAND_ERROR_IS_FATAL ANY)
  string(REGEX MATCHALL "\n[0-9a-f]+ [^\n]+" rows "${dump}")
  set(found)
  foreach(row IN LISTS rows)
    # The library allocates nothing: no allocator may even be imported.
    if(row MATCHES "\\*UND\\*.*[ \t](malloc|calloc|realloc|free|aligned_alloc|posix_memalign|strdup|_Znw[jm]|_Zna[jm])$")
      message(FATAL_ERROR "the module imports an allocator:${row}")
    endif()
    if(NOT row MATCHES "\\*UND\\*")
      string(REGEX REPLACE ".*[ \t]" "" name "${row}")
      list(APPEND found ${name})
    endif()
  endforeach()
endif()
list(SORT found)
set(expected Klarvoss Klarvoss_init Klarvoss_version miSetModuleHandle)
if(NOT found STREQUAL expected)
  message(FATAL_ERROR "exports are '${found}', expected exactly '${expected}'")
endif()
message(STATUS "exports: ${found}")
