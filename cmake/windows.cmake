# Dependencies of the Windows cross-build (mingw-w64). zlib comes from the mingw packages;
# spdlog, fmt, nlohmann-json and CLI11 are used header-only from the build machine's packages,
# through a folder that holds only their headers (the rest of /usr/include is glibc's and must
# stay out of reach). ICU is not used on Windows: see the design notes on case mapping.

set(ZT_HOST_HEADERS ${CMAKE_BINARY_DIR}/host-headers)
file(MAKE_DIRECTORY ${ZT_HOST_HEADERS})
foreach(dir spdlog fmt nlohmann CLI)
  if(NOT EXISTS /usr/include/${dir})
    message(FATAL_ERROR "/usr/include/${dir} is missing: install the Debian -dev package that holds it")
  endif()
  file(CREATE_LINK /usr/include/${dir} ${ZT_HOST_HEADERS}/${dir} SYMBOLIC)
endforeach()

function(zt_header_only_target name)
  if(NOT TARGET ${name})
    add_library(${name} INTERFACE IMPORTED GLOBAL)
    target_include_directories(${name} SYSTEM INTERFACE ${ZT_HOST_HEADERS})
  endif()
endfunction()
zt_header_only_target(spdlog::spdlog)
# Debian's spdlog expects an external fmt; on Windows fmt is used header-only.
target_compile_definitions(spdlog::spdlog INTERFACE FMT_HEADER_ONLY SPDLOG_FMT_EXTERNAL)
zt_header_only_target(CLI11::CLI11)
zt_header_only_target(nlohmann_json::nlohmann_json)
set(CLI11_FOUND TRUE)
set(nlohmann_json_FOUND TRUE)

set(ZLIB_USE_STATIC_LIBS ON) # no zlib1.dll to carry along
find_package(ZLIB REQUIRED)

# The runtime DLLs of mingw-w64 go beside the programs, so that they start from any folder.
execute_process(COMMAND ${CMAKE_CXX_COMPILER} -print-file-name=libstdc++-6.dll
                OUTPUT_VARIABLE ZT_LIBSTDCXX_DLL OUTPUT_STRIP_TRAILING_WHITESPACE)
execute_process(COMMAND ${CMAKE_CXX_COMPILER} -print-file-name=libgcc_s_seh-1.dll
                OUTPUT_VARIABLE ZT_LIBGCC_DLL OUTPUT_STRIP_TRAILING_WHITESPACE)
find_file(ZT_WINPTHREAD_DLL libwinpthread-1.dll PATHS /usr/${ZT_MINGW_TRIPLET}/lib /usr/${ZT_MINGW_TRIPLET}/bin
          NO_DEFAULT_PATH)
foreach(dll ${ZT_LIBSTDCXX_DLL} ${ZT_LIBGCC_DLL} ${ZT_WINPTHREAD_DLL})
  if(NOT EXISTS ${dll})
    message(FATAL_ERROR "mingw-w64 runtime DLL not found: ${dll}")
  endif()
  file(COPY ${dll} DESTINATION ${CMAKE_BINARY_DIR})
endforeach()

add_compile_definitions(UNICODE _UNICODE WIN32_LEAN_AND_MEAN NOMINMAX _WIN32_WINNT=0x0A00)
