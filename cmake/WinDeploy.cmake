# Gathers beside the installed Windows programs what they need on a machine without Qt, as Qt's
# windeployqt does on Windows: the DLLs they import, read from the import tables and followed
# recursively (system DLLs, found in none of the search folders, stay out), the platform and
# style plugins with theirs, and Qt's Russian translations. Every copied DLL is stripped: the
# runtime's debug sections are half the folder otherwise.
#
# Included by the install script (packaging/windows) with:
#   DEPLOY_DIR      the installed folder holding the .exe files
#   SEARCH_DIRS     where DLLs are looked for, in order (Qt's bin, the compiler's runtime)
#   PLUGINS         plugin DLLs as <folder>/<file>=<source path>, e.g. platforms/qwindows.dll=...
#   TRANSLATIONS    .qm files put into translations/
#   OBJDUMP, STRIP  the cross binutils
if(NOT OBJDUMP OR NOT STRIP)
  message(WARNING "deploy: no objdump and strip of MinGW binutils here: run Qt's windeployqt on "
                  "quorlan.exe and quorlan-cli.exe in ${DEPLOY_DIR}")
  return()
endif()

function(imports_of file out)
  execute_process(COMMAND ${OBJDUMP} -p ${file} OUTPUT_VARIABLE dump RESULT_VARIABLE rc
                  ERROR_QUIET)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "deploy: ${OBJDUMP} cannot read ${file}")
  endif()
  string(REGEX MATCHALL "DLL Name: [^\r\n]+" lines "${dump}")
  set(names)
  foreach(line ${lines})
    string(REGEX REPLACE "DLL Name: " "" name "${line}")
    string(STRIP "${name}" name)
    list(APPEND names ${name})
  endforeach()
  set(${out} ${names} PARENT_SCOPE)
endfunction()

function(find_dll name out)
  set(${out} "" PARENT_SCOPE)
  string(TOLOWER "${name}" lower)
  foreach(dir ${SEARCH_DIRS})
    file(GLOB candidates "${dir}/*.dll")
    foreach(c ${candidates})
      get_filename_component(base ${c} NAME)
      string(TOLOWER "${base}" base)
      if(base STREQUAL lower)
        set(${out} ${c} PARENT_SCOPE)
        return()
      endif()
    endforeach()
  endforeach()
endfunction()

function(copy_stripped src dest_dir)
  get_filename_component(name ${src} NAME)
  file(MAKE_DIRECTORY ${dest_dir})
  file(COPY_FILE ${src} ${dest_dir}/${name} ONLY_IF_DIFFERENT)
  execute_process(COMMAND ${STRIP} --strip-unneeded ${dest_dir}/${name} RESULT_VARIABLE rc)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "deploy: ${STRIP} failed on ${dest_dir}/${name}")
  endif()
endfunction()

file(GLOB queue "${DEPLOY_DIR}/*.exe")
if(NOT queue)
  message(FATAL_ERROR "deploy: no programs in ${DEPLOY_DIR}")
endif()
foreach(entry ${PLUGINS})
  string(REPLACE "=" ";" parts "${entry}")
  list(GET parts 0 dest)
  list(GET parts 1 src)
  get_filename_component(folder ${dest} DIRECTORY)
  copy_stripped(${src} ${DEPLOY_DIR}/${folder})
  list(APPEND queue ${DEPLOY_DIR}/${dest})
endforeach()

set(seen)
while(queue)
  list(POP_FRONT queue file)
  imports_of(${file} names)
  foreach(name ${names})
    string(TOLOWER "${name}" key)
    list(FIND seen "${key}" at)
    if(at GREATER -1)
      continue()
    endif()
    list(APPEND seen ${key})
    find_dll(${name} src)
    if(src)   # otherwise a system DLL
      copy_stripped(${src} ${DEPLOY_DIR})
      get_filename_component(base ${src} NAME)
      list(APPEND queue ${DEPLOY_DIR}/${base})
      message(STATUS "deploy: ${base}")
    endif()
  endforeach()
endwhile()

foreach(qm ${TRANSLATIONS})
  file(COPY ${qm} DESTINATION ${DEPLOY_DIR}/translations)
endforeach()
