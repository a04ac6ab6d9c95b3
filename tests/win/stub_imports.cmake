# Fails unless every DLL that each of STUBS (a ;-list of executables) imports
# is one of the loader's known DLLs. Any other DLL is looked up in the
# program's own folder first, before the program can narrow the search, so a
# copy planted beside a downloaded setup file would run with its rights.
# Usage: cmake -DOBJDUMP=<objdump> -DSTUBS=<a.exe;b.exe> -P stub_imports.cmake

cmake_minimum_required(VERSION 3.16)

# The loader's KnownDLLs list as of Windows 7.
set(_known advapi32.dll clbcatq.dll comdlg32.dll difxapi.dll gdi32.dll imagehlp.dll imm32.dll
    kernel32.dll lpk.dll msctf.dll msvcrt.dll normaliz.dll nsi.dll ole32.dll oleaut32.dll psapi.dll
    rpcrt4.dll sechost.dll setupapi.dll shell32.dll shlwapi.dll user32.dll usp10.dll wldap32.dll
    ws2_32.dll)

set(_failed FALSE)
foreach(_stub IN LISTS STUBS)
  if(NOT EXISTS "${_stub}")
    message(SEND_ERROR "missing executable: ${_stub}")
    set(_failed TRUE)
    continue()
  endif()
  execute_process(COMMAND "${OBJDUMP}" -p "${_stub}" OUTPUT_VARIABLE _dump RESULT_VARIABLE _rc)
  if(NOT _rc EQUAL 0)
    message(SEND_ERROR "${OBJDUMP} failed on ${_stub}")
    set(_failed TRUE)
    continue()
  endif()
  string(REGEX MATCHALL "DLL Name: [^\r\n]+" _lines "${_dump}")
  if(NOT _lines)
    message(SEND_ERROR "no imports found in ${_stub}")
    set(_failed TRUE)
  endif()
  foreach(_line IN LISTS _lines)
    string(REGEX REPLACE "^DLL Name: *" "" _dll "${_line}")
    string(STRIP "${_dll}" _dll)
    string(TOLOWER "${_dll}" _lower)
    if(NOT _lower IN_LIST _known)
      message(SEND_ERROR "${_stub} imports ${_dll}, which is not a known DLL")
      set(_failed TRUE)
    endif()
  endforeach()
  list(LENGTH _lines _count)
  message(STATUS "${_stub}: ${_count} imported DLLs checked")
endforeach()
if(_failed)
  message(FATAL_ERROR "stub imports DLLs outside the known-DLL list")
endif()
