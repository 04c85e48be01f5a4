# Installs the build tree into a fresh prefix, checks what lands there, then
# configures, builds and runs a consumer project against it.
#   cmake -DBUILD=... -DSOURCE=... -DWORK=... -DCXX=... -DFLAGS=... -DEXPECTED=... -P check.cmake
file(REMOVE_RECURSE ${WORK})
set(prefix ${WORK}/prefix)

function(run)
  execute_process(COMMAND ${ARGV} RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "failed: ${ARGV}\n${out}\n${err}")
  endif()
  set(out "${out}" PARENT_SCOPE)
endfunction()

run(${CMAKE_COMMAND} --install ${BUILD} --prefix ${prefix})
foreach(f bin/tilvex bin/tilvex-plot bin/tilvex-grid bin/tilvex-generate share/man/man1/tilvex.1
          share/man/man1/tilvex-grid.1 share/man/man1/tilvex-plot.1 share/man/man1/tilvex-generate.1
          share/doc/tilvex/example.cpp include/tilvex/analyse.hpp
          include/tilvex/records.hpp
          lib*/cmake/tilvex/tilvexConfig.cmake lib*/cmake/tilvex/tilvexConfigVersion.cmake
          lib*/libtilvex.a)
  file(GLOB_RECURSE found ${prefix}/${f})
  if(NOT found)
    message(FATAL_ERROR "not installed: ${f}")
  endif()
endforeach()
# The examples, each file as in the source tree, the scripts still
# executable; the realistic one is what the installed tilvex-generate makes.
set(examples ${prefix}/share/doc/tilvex/examples)
file(GLOB_RECURSE sources RELATIVE ${SOURCE}/examples ${SOURCE}/examples/*)
list(FILTER sources EXCLUDE REGEX "__pycache__")
file(GLOB_RECURSE installed RELATIVE ${examples} ${examples}/*)
list(SORT sources)
list(SORT installed)
if(NOT installed STREQUAL sources)
  message(FATAL_ERROR "installed examples: ${installed}\ninstead of: ${sources}")
endif()
foreach(f IN LISTS sources)
  run(${CMAKE_COMMAND} -E compare_files ${SOURCE}/examples/${f} ${examples}/${f})
  execute_process(COMMAND test -x ${SOURCE}/examples/${f} RESULT_VARIABLE source_x)
  execute_process(COMMAND test -x ${examples}/${f} RESULT_VARIABLE installed_x)
  if(NOT source_x EQUAL installed_x)
    message(FATAL_ERROR "examples/${f} is installed with other permissions")
  endif()
endforeach()
foreach(script slurm/submit.sh slurm/merge.sh gmt/stress_map.sh)
  if(NOT EXISTS ${examples}/${script})
    message(FATAL_ERROR "not installed: examples/${script}")
  endif()
  execute_process(COMMAND test -x ${examples}/${script} RESULT_VARIABLE status)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "examples/${script} is installed, but not executable")
  endif()
endforeach()
execute_process(COMMAND ${prefix}/bin/tilvex-generate 2000 1 OUTPUT_FILE ${WORK}/generated.vrin RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "the installed tilvex-generate 2000 1 exited with status ${status}")
endif()
run(${CMAKE_COMMAND} -E compare_files ${WORK}/generated.vrin ${examples}/realistic.vrin)

# Only the public API: the two headers, nothing of the layers below.
file(GLOB_RECURSE headers RELATIVE ${prefix}/include ${prefix}/include/*)
if(NOT headers STREQUAL "tilvex/analyse.hpp;tilvex/records.hpp")
  message(FATAL_ERROR "installed headers: ${headers}")
endif()

# Only the API's functions are defined under tilvex:: in the installed
# library; the layers below are in tilvex::detail (or have internal linkage).
find_program(NM nm REQUIRED)
file(GLOB_RECURSE library ${prefix}/lib*/libtilvex.a)
run(${NM} -C --defined-only ${library})
string(REGEX MATCHALL "[TWDBRV] tilvex::[^\n]*" defined "${out}")
set(api)
foreach(symbol IN LISTS defined)
  string(SUBSTRING "${symbol}" 2 -1 symbol)
  if(NOT symbol MATCHES "^tilvex::detail::")
    list(APPEND api "${symbol}")
  endif()
endforeach()
list(REMOVE_DUPLICATES api)
list(SORT api)
string(REPLACE ";" "\n" api "${api}")
set(expected_api [=[tilvex::analyse(std::basic_string_view<char, std::char_traits<char> >, float)
tilvex::analyse(std::basic_string_view<char, std::char_traits<char> >, float, tilvex::AcceptedSink&)
tilvex::analyse(tilvex::Record const&, std::span<tilvex::Record const, 18446744073709551615ul>, float)
tilvex::analyse(tilvex::Record const&, std::span<tilvex::Record const, 18446744073709551615ul>, float, tilvex::AcceptedSink&)
tilvex::format_accepted[abi:cxx11](tilvex::Result const&, tilvex::Grid const&)
tilvex::format_summary[abi:cxx11](tilvex::Result const&)]=])
if(NOT api STREQUAL expected_api)
  message(FATAL_ERROR "the installed library defines under tilvex::\n${api}\ninstead of the API's\n${expected_api}")
endif()

run(${CMAKE_COMMAND} -S ${SOURCE}/tests/install/consumer -B ${WORK}/build
    -DCMAKE_PREFIX_PATH=${prefix} -DCMAKE_CXX_COMPILER=${CXX} "-DCMAKE_CXX_FLAGS=${FLAGS}")
run(${CMAKE_COMMAND} --build ${WORK}/build)
run(${WORK}/build/consumer)
file(READ ${EXPECTED} expected)
if(NOT out STREQUAL expected)
  message(FATAL_ERROR "the consumer printed\n${out}\ninstead of\n${expected}")
endif()

# The installed program gives the same.
run(${prefix}/bin/tilvex ${SOURCE}/tests/data/worked.vrin ${WORK}/out.txt 75 ${WORK}/out2.txt
    3 7 0 1)
file(READ ${WORK}/out.txt summary)
file(READ ${WORK}/out2.txt lines)
if(NOT "${summary}${lines}" STREQUAL expected)
  message(FATAL_ERROR "the installed program wrote\n${summary}${lines}")
endif()

# Another major version is refused: 1.0 had another API, 3.0 is not this one.
foreach(version 1.0 3.0)
  file(WRITE ${WORK}/v${version}/CMakeLists.txt
    "cmake_minimum_required(VERSION 3.20)\nproject(other LANGUAGES CXX)\nfind_package(tilvex ${version} REQUIRED)\n")
  execute_process(COMMAND ${CMAKE_COMMAND} -S ${WORK}/v${version} -B ${WORK}/v${version}/build
                  -DCMAKE_PREFIX_PATH=${prefix} RESULT_VARIABLE status OUTPUT_QUIET ERROR_QUIET)
  if(status EQUAL 0)
    message(FATAL_ERROR "find_package(tilvex ${version}) was satisfied by version 2")
  endif()
endforeach()
