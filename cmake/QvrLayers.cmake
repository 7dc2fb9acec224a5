# The layers of the core and the folders of the programs, with the arrows
# between them (docs/architecture.md draws the same picture). Each core layer
# is a static library of its own that links exactly the layers it names, so a
# program that does not link a layer cannot call into it; and every source
# file's includes are checked against the same arrows before anything is
# compiled (cmake/QvrArchitectureCheck.cmake), so a forbidden include fails
# the build and the `architecture` test.

# qvr_layer(<name> FOLDER <dir> [FLAT] [DEPENDS <layer>...])
# The library qvr<name> (alias QVR::<name>) from the .cpp files of <dir> (and
# of its subfolders, unless FLAT: rest/ holds the layers below it in
# subfolders of its own). It may include and link the layers of DEPENDS only.
function(qvr_layer name)
  cmake_parse_arguments(L "FLAT" "FOLDER" "DEPENDS" ${ARGN})
  if(L_FLAT)
    file(GLOB sources CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/${L_FOLDER}/*.cpp)
  else()
    file(GLOB_RECURSE sources CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/${L_FOLDER}/*.cpp)
  endif()
  add_library(qvr${name} STATIC ${sources})
  add_library(QVR::${name} ALIAS qvr${name})
  target_include_directories(qvr${name} PUBLIC $<BUILD_INTERFACE:${CMAKE_SOURCE_DIR}>)
  target_compile_features(qvr${name} PUBLIC cxx_std_20)
  foreach(dependency IN LISTS L_DEPENDS)
    target_link_libraries(qvr${name} PUBLIC qvr${dependency})
  endforeach()
  # Nothing of a layer is compiled before the includes of the whole tree
  # passed the check.
  add_dependencies(qvr${name} architecture_check)
  set_property(GLOBAL APPEND PROPERTY QVR_CORE_LAYERS ${name})
  qvr_folder_rule(${L_FOLDER} LAYER ${name} DEPENDS ${L_DEPENDS})
endfunction()

# qvr_folder_rule(<dir> [LAYER <name>] DEPENDS <layer>...)
# Records which layers the files of <dir> may include. Programs' folders
# (app/, tools/qvr/, server/) call it for themselves; their CMakeLists link
# the same layers.
function(qvr_folder_rule folder)
  cmake_parse_arguments(R "" "LAYER" "DEPENDS" ${ARGN})
  if(NOT R_LAYER)
    set(R_LAYER ${folder})
  endif()
  set(allowed)
  foreach(dependency IN LISTS R_DEPENDS)
    get_property(dependency_folder GLOBAL PROPERTY QVR_LAYER_FOLDER_${dependency})
    if(NOT dependency_folder)
      message(FATAL_ERROR "${folder}: unknown layer ${dependency} (layers are declared bottom up)")
    endif()
    list(APPEND allowed ${dependency_folder})
  endforeach()
  set_property(GLOBAL PROPERTY QVR_LAYER_FOLDER_${R_LAYER} ${folder})
  set_property(GLOBAL APPEND PROPERTY QVR_RULE_FOLDERS ${folder})
  string(MAKE_C_IDENTIFIER "${folder}" key)
  set_property(GLOBAL PROPERTY QVR_RULE_ALLOW_${key} "${allowed}")
  set_property(GLOBAL PROPERTY QVR_RULE_NAME_${key} ${R_LAYER})
endfunction()

# qvr_core_umbrella(): QVR::core, every layer of the core for programs that
# use all of it, as the installed package offers it (packaging/).
function(qvr_core_umbrella)
  get_property(layers GLOBAL PROPERTY QVR_CORE_LAYERS)
  add_library(qvrcore INTERFACE)
  add_library(QVR::core ALIAS qvrcore)
  foreach(layer IN LISTS layers)
    target_link_libraries(qvrcore INTERFACE qvr${layer})
  endforeach()
endfunction()

# qvr_architecture_rules(): writes the rules the check reads and adds the
# check: the target architecture_check (which every layer waits for) and the
# test `architecture`. Call after every qvr_layer and qvr_folder_rule.
function(qvr_architecture_rules)
  get_property(folders GLOBAL PROPERTY QVR_RULE_FOLDERS)
  set(text "# Written by cmake/QvrLayers.cmake: the folders and what each may include.\n")
  string(APPEND text "set(QVR_RULE_FOLDERS \"${folders}\")\n")
  set(sources)
  foreach(folder IN LISTS folders)
    string(MAKE_C_IDENTIFIER "${folder}" key)
    get_property(allowed GLOBAL PROPERTY QVR_RULE_ALLOW_${key})
    get_property(name GLOBAL PROPERTY QVR_RULE_NAME_${key})
    string(APPEND text "set(QVR_RULE_ALLOW_${key} \"${allowed}\")\n")
    string(APPEND text "set(QVR_RULE_NAME_${key} \"${name}\")\n")
    file(GLOB_RECURSE found CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/${folder}/*.h
         ${CMAKE_SOURCE_DIR}/${folder}/*.cpp)
    list(APPEND sources ${found})
  endforeach()
  list(REMOVE_DUPLICATES sources)
  get_property(core GLOBAL PROPERTY QVR_CORE_LAYERS)
  set(core_folders)
  foreach(layer IN LISTS core)
    get_property(folder GLOBAL PROPERTY QVR_LAYER_FOLDER_${layer})
    list(APPEND core_folders ${folder})
  endforeach()
  string(APPEND text "set(QVR_CORE_FOLDERS \"${core_folders}\")\n")
  set(rules ${CMAKE_BINARY_DIR}/architecture-rules.cmake)
  file(WRITE ${rules} "${text}")

  set(script ${CMAKE_SOURCE_DIR}/cmake/QvrArchitectureCheck.cmake)
  set(stamp ${CMAKE_BINARY_DIR}/architecture-check.stamp)
  add_custom_command(
    OUTPUT ${stamp}
    COMMAND ${CMAKE_COMMAND} -DQVR_RULES=${rules} -DQVR_SOURCE_DIR=${CMAKE_SOURCE_DIR} -P ${script}
    COMMAND ${CMAKE_COMMAND} -E touch ${stamp}
    DEPENDS ${sources} ${rules} ${script}
    COMMENT "Checking the includes against the layers' arrows"
    VERBATIM)
  add_custom_target(architecture_check DEPENDS ${stamp})
  if(QVR_BUILD_TESTS AND NOT QVR_FUZZ)
    add_test(NAME architecture
             COMMAND ${CMAKE_COMMAND} -DQVR_RULES=${rules} -DQVR_SOURCE_DIR=${CMAKE_SOURCE_DIR}
                     -P ${script})
    set_tests_properties(architecture PROPERTIES LABELS architecture TIMEOUT 60)
  endif()
endfunction()
