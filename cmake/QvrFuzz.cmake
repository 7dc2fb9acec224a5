# Fuzz targets, declared once (tests/fuzz/fuzz.cmake) and built two ways:
#
# - In the fuzz build (QVR_FUZZ=ON, clang, `make fuzz`, build-fuzz/) each
#   target is a libFuzzer executable fuzz-<NAME> in build-fuzz/bin, listed in
#   build-fuzz/fuzz-targets.txt for scripts/run-fuzz.
# - In the ordinary test build each target is a GoogleTest executable
#   <NAME>_fuzz_replay (label fuzz) that feeds every file of the seed corpus
#   and of the regression folder through the same entry function, so that an
#   input that once crashed stays a test case for good.
#
# A target's sources define the libFuzzer entry function
#   extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* AData, std::size_t ASize)
# as a plain function that both builds compile.

set(QVR_FUZZ_DIR ${CMAKE_SOURCE_DIR}/tests/fuzz)

# qvr_fuzz_target(<NAME> SOURCES <files>... [CORPUS <dir>] [REGRESSIONS <dir>] [LIBS <libs>...])
# CORPUS (seed inputs, small files in the tree) defaults to
# tests/fuzz/corpus/<NAME>, REGRESSIONS (inputs that once crashed) to
# tests/fuzz/regressions/<NAME>. Targets link the core library.
function(qvr_fuzz_target name)
  cmake_parse_arguments(F "" "CORPUS;REGRESSIONS" "SOURCES;LIBS" ${ARGN})
  if(NOT F_SOURCES)
    message(FATAL_ERROR "qvr_fuzz_target(${name}): no SOURCES")
  endif()
  if(NOT F_CORPUS)
    set(F_CORPUS ${QVR_FUZZ_DIR}/corpus/${name})
  endif()
  if(NOT F_REGRESSIONS)
    set(F_REGRESSIONS ${QVR_FUZZ_DIR}/regressions/${name})
  endif()
  if(NOT IS_DIRECTORY ${F_CORPUS})
    message(FATAL_ERROR "qvr_fuzz_target(${name}): no seed corpus in ${F_CORPUS}")
  endif()
  if(QVR_FUZZ)
    add_executable(fuzz-${name} ${F_SOURCES})
    target_link_libraries(fuzz-${name} PRIVATE qvrcore ${F_LIBS})
    target_include_directories(fuzz-${name} PRIVATE ${CMAKE_SOURCE_DIR}/tests)
    target_link_options(fuzz-${name} PRIVATE -fsanitize=fuzzer)
    set_property(GLOBAL APPEND PROPERTY QVR_FUZZ_TARGETS
                 "${name}\t$<TARGET_FILE:fuzz-${name}>\t${F_CORPUS}\t${F_REGRESSIONS}")
  else()
    qvr_test(${name}_fuzz_replay LABEL fuzz
             SOURCES ${F_SOURCES} ${QVR_FUZZ_DIR}/FuzzReplay_test.cpp
             LIBS ${F_LIBS}
             ENV "QVR_FUZZ_INPUTS=${F_CORPUS}:${F_REGRESSIONS}")
  endif()
endfunction()

# Writes build-fuzz/fuzz-targets.txt: one line per target, its name, its
# executable, its seed corpus and its regression folder, separated by tabs.
function(qvr_fuzz_write_manifest)
  get_property(lines GLOBAL PROPERTY QVR_FUZZ_TARGETS)
  list(JOIN lines "\n" text)
  file(GENERATE OUTPUT ${CMAKE_BINARY_DIR}/fuzz-targets.txt CONTENT "${text}\n")
endfunction()
