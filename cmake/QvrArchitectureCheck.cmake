# Checks every include of the core's layers and of the programs against the
# arrows of cmake/QvrLayers.cmake. Run in script mode:
#   cmake -DQVR_RULES=<build>/architecture-rules.cmake -DQVR_SOURCE_DIR=<tree> -P this file
# It fails, listing every offending line, when a file
# - includes a header of a folder its own folder may not include;
# - includes from another folder's detail/ (what only that folder uses);
# - is a public header of the core (outside detail/) that includes a
#   third-party library's header, which would leak it into every user;
# - includes Qt outside app/.
# Quoted includes name files from the root of the tree; one that names no
# file of the tree (a generated or third-party file) is not checked.

if(NOT QVR_RULES OR NOT QVR_SOURCE_DIR)
  message(FATAL_ERROR "usage: cmake -DQVR_RULES=<rules> -DQVR_SOURCE_DIR=<tree> -P ${CMAKE_CURRENT_LIST_FILE}")
endif()
include(${QVR_RULES})

# Headers of the libraries the core keeps out of its public headers, and Qt's.
set(third_party_pattern "^(curl/|openssl/|rapidjson/|zlib\\.h|libdeflate\\.h|httplib\\.h|sqlite3\\.h|boost/|gssapi|sodium|argon2)")
set(qt_pattern "^(Q[A-Z][A-Za-z]*|Qt[A-Za-z]*/.*)$")

# The folder of the rules that APath (relative to the tree) lies in: the
# longest one that is a prefix of it; empty for none.
function(qvr_owner path out)
  set(best "")
  string(LENGTH "" best_length)
  foreach(folder IN LISTS QVR_RULE_FOLDERS)
    string(LENGTH "${folder}" length)
    string(SUBSTRING "${path}" 0 ${length} head)
    string(SUBSTRING "${path}/" ${length} 1 next)
    if(head STREQUAL folder AND next STREQUAL "/" AND length GREATER best_length)
      set(best ${folder})
      set(best_length ${length})
    endif()
  endforeach()
  set(${out} "${best}" PARENT_SCOPE)
endfunction()

set(files)
foreach(folder IN LISTS QVR_RULE_FOLDERS)
  file(GLOB_RECURSE found ${QVR_SOURCE_DIR}/${folder}/*.h ${QVR_SOURCE_DIR}/${folder}/*.cpp)
  list(APPEND files ${found})
endforeach()
list(REMOVE_DUPLICATES files)
list(SORT files)

set(problems)
foreach(file IN LISTS files)
  file(RELATIVE_PATH path ${QVR_SOURCE_DIR} ${file})
  qvr_owner("${path}" owner)
  string(MAKE_C_IDENTIFIER "${owner}" key)
  set(allowed ${QVR_RULE_ALLOW_${key}})
  set(name ${QVR_RULE_NAME_${key}})
  list(FIND QVR_CORE_FOLDERS "${owner}" core_index)
  set(public_header FALSE)
  if(path MATCHES "\\.h$" AND NOT path MATCHES "/detail/" AND NOT core_index EQUAL -1)
    set(public_header TRUE)
  endif()
  file(STRINGS ${file} lines REGEX "^[ \t]*#[ \t]*include")
  foreach(line IN LISTS lines)
    if(line MATCHES "include[ \t]*\"([^\"]+)\"")
      set(included ${CMAKE_MATCH_1})
      if(NOT EXISTS ${QVR_SOURCE_DIR}/${included})
        continue()
      endif()
      qvr_owner("${included}" target)
      if(target STREQUAL "" OR target STREQUAL owner)
        continue()
      endif()
      if(included MATCHES "/detail/")
        list(APPEND problems
             "${path}: includes ${included}, but a detail/ folder serves only its own folder (${target})")
      endif()
      list(FIND allowed "${target}" index)
      if(index EQUAL -1)
        if(allowed)
          string(REPLACE ";" ", " allowed_text "${allowed}")
        else()
          set(allowed_text "nothing outside itself")
        endif()
        list(APPEND problems
             "${path}: includes ${included}, but ${owner} (${name}) may include only ${allowed_text}")
      endif()
    elseif(line MATCHES "include[ \t]*<([^>]+)>")
      set(included ${CMAKE_MATCH_1})
      if(included MATCHES "${qt_pattern}" AND NOT owner STREQUAL "app")
        list(APPEND problems "${path}: includes <${included}>, but only app/ includes Qt")
      elseif(public_header AND included MATCHES "${third_party_pattern}")
        list(APPEND problems
             "${path}: a public header of the core includes <${included}> (third-party headers go in .cpp files or detail/)")
      endif()
    endif()
  endforeach()
endforeach()

if(problems)
  list(LENGTH problems count)
  list(JOIN problems "\n  " text)
  message(FATAL_ERROR
          "${count} include(s) break the layers' arrows (cmake/QvrLayers.cmake, docs/architecture.md):\n  ${text}")
endif()
list(LENGTH files count)
message(STATUS "architecture: ${count} files follow the layers' arrows")
