# Installs the core's public headers under QVR_HEADER_DESTINATION, keeping
# their folders ("rest/RestConnection.h"). Run when installing (install(CODE)
# in packaging/CMakeLists.txt), so that it follows every include a header
# gains without a new configure.
# Public are the headers outside detail/ folders, and whatever those include:
# the templates of rest/json/ expand from rest/json/detail/, so those ship
# too, while rest/http/detail/ (libcurl's side) stays out. An included file
# that is not in the source tree stops the install.
# In: QVR_SOURCE_DIR, QVR_HEADER_DESTINATION (absolute; DESTDIR applies).

# The install script that includes this file runs under old policies.
cmake_policy(PUSH)
cmake_policy(VERSION 3.25)

set(pending)
foreach(folder platform config data rest client)
  file(GLOB_RECURSE found RELATIVE ${QVR_SOURCE_DIR} ${QVR_SOURCE_DIR}/${folder}/*.h)
  list(FILTER found EXCLUDE REGEX "(^|/)detail/")
  list(APPEND pending ${found})
endforeach()

set(headers)
while(pending)
  list(POP_FRONT pending header)
  if(header IN_LIST headers)
    continue()
  endif()
  list(APPEND headers ${header})
  file(STRINGS ${QVR_SOURCE_DIR}/${header} lines REGEX "^[ \t]*#[ \t]*include[ \t]*\"")
  foreach(line IN LISTS lines)
    string(REGEX REPLACE "^[ \t]*#[ \t]*include[ \t]*\"([^\"]+)\".*$" "\\1" included "${line}")
    if(NOT EXISTS ${QVR_SOURCE_DIR}/${included})
      message(FATAL_ERROR "${header} includes \"${included}\", which is not in ${QVR_SOURCE_DIR}")
    endif()
    list(APPEND pending ${included})
  endforeach()
endwhile()

list(SORT headers)
foreach(header IN LISTS headers)
  get_filename_component(folder ${header} DIRECTORY)
  file(INSTALL ${QVR_SOURCE_DIR}/${header} DESTINATION ${QVR_HEADER_DESTINATION}/${folder})
endforeach()

cmake_policy(POP)
