# cmake -P script: include/KvSDKEng.h as a host sees it, under one language standard.
#   -DCOMPILER=<cc or c++> -DLANG=c|c++ -DSTD=<c89, c++11, ...> -DINCLUDE=<dir> -DWORK=<dir>
# 1. A unit that includes the header and uses its types, constants and functions compiles
#    without a single warning (-Wall -Wextra -pedantic -Werror).
# 2. The header defines no macro but its own: every macro it adds to what the system headers
#    it includes define is one of the interface's.
cmake_minimum_required(VERSION 3.25)
foreach(var COMPILER LANG STD INCLUDE WORK)
  if(NOT DEFINED ${var})
    message(FATAL_ERROR "${var} is not set")
  endif()
endforeach()
file(MAKE_DIRECTORY ${WORK})
if(LANG STREQUAL "c")
  set(ext c)
  set(system_headers "#include <stddef.h>\n#include <stdint.h>\n")
else()
  set(ext cpp)
  set(system_headers "#include <cstddef>\n#include <cstdint>\n")
endif()
if(WIN32_TARGET)
  string(PREPEND system_headers "#include <windows.h>\n")
endif()

file(WRITE ${WORK}/user.${ext} [[
#include "KvSDKEng.h"
#if KVSDKENG_VERSION_MAJOR < 1
#error "no version"
#endif
static HRESULT Use(void)
{
    EffectParams params;
    PFN_KvSDKSetEffect set = KvSDKSetEffect;
    GUID product = PRODUCT_PELL_MOUSE_0E59;
    params.size = (uint32_t)sizeof params;
    params.productGuid = product;
    params.lightSelector = 1;
    params.red = 1;
    if (KvSDKEngInit(PRODUCT_PELL) != S_OK) return E_FAIL;
    return set(EFFECT_LED_COLOR, &params);
}
int main(void) { return FAILED(Use()) ? 1 : 0; }
]])
file(WRITE ${WORK}/baseline.${ext} "${system_headers}")
file(WRITE ${WORK}/header.${ext} "${system_headers}#include \"KvSDKEng.h\"\n")

set(flags -std=${STD} -Wall -Wextra -pedantic -Werror -I${INCLUDE})
execute_process(COMMAND ${COMPILER} ${flags} -fsyntax-only ${WORK}/user.${ext}
                RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE out)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "KvSDKEng.h does not compile cleanly as ${STD}:\n${out}")
endif()

function(macros file out)
  execute_process(COMMAND ${COMPILER} ${flags} -dM -E ${file}
                  RESULT_VARIABLE rc OUTPUT_VARIABLE text ERROR_VARIABLE err)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "preprocessing ${file} failed:\n${err}")
  endif()
  string(REPLACE ";" "\\;" text "${text}")
  string(REPLACE "\n" ";" lines "${text}")
  set(${out} "${lines}" PARENT_SCOPE)
endfunction()
macros(${WORK}/baseline.${ext} before)
macros(${WORK}/header.${ext} after)
list(REMOVE_ITEM after ${before})
# The interface's own names; off Windows also the HRESULT and GUID basics it supplies.
set(own "^#define (KVSDK[A-Z0-9_]*)[ (]")
if(NOT WIN32_TARGET)
  string(APPEND own "|^#define (GUID_DEFINED|S_OK|S_FALSE|E_[A-Z]+|SUCCEEDED|FAILED)[ (]")
endif()
set(foreign)
foreach(line IN LISTS after)
  if(line AND NOT line MATCHES "${own}")
    list(APPEND foreign "${line}")
  endif()
endforeach()
if(foreign)
  string(REPLACE ";" "\n  " foreign "${foreign}")
  message(FATAL_ERROR "KvSDKEng.h (${STD}) defines or changes macros of the host:\n  ${foreign}")
endif()
message(STATUS "KvSDKEng.h compiles cleanly as ${STD} and defines only its own macros")
