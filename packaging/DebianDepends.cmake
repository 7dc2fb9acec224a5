# Debian dependencies that dpkg-shlibdeps cannot see: libraries the core loads
# with dlopen, and the -dev packages a program linking the static core needs.
# Worked out at configure time from the libraries this build found, so that
# they name the packages the build really used.

# qvr_debian_package_of(<var> <file>): the installed Debian package that holds
# <file> (through its real path too, for merged /usr); empty when none does.
function(qvr_debian_package_of var file)
  file(REAL_PATH ${file} real)
  set(package "")
  foreach(path IN ITEMS ${file} ${real})
    execute_process(COMMAND dpkg-query -S ${path} OUTPUT_VARIABLE owner
                    RESULT_VARIABLE rc ERROR_QUIET OUTPUT_STRIP_TRAILING_WHITESPACE)
    # "libcurl4:amd64: /usr/lib/x86_64-linux-gnu/libcurl.so.4"
    if(rc EQUAL 0 AND owner MATCHES "^([^:, ]+)")
      set(package ${CMAKE_MATCH_1})
      break()
    endif()
  endforeach()
  set(${var} "${package}" PARENT_SCOPE)
endfunction()

# qvr_debian_dlopen_depends(<var> <imported target> <soname>): the dependency
# for a library loaded by SONAME at run time, as the package's shlibs file
# states it ("libcurl4 (>= 7.88.1)"), or the bare package name when it has no
# entry for that SONAME.
function(qvr_debian_dlopen_depends var target soname)
  qvr_imported_location(location ${target})
  get_filename_component(folder ${location} DIRECTORY)
  qvr_debian_package_of(package ${folder}/${soname})
  if(NOT package)
    message(FATAL_ERROR "No installed Debian package holds ${folder}/${soname}")
  endif()
  set(depends ${package})
  # libcurl.so.4 -> "libcurl 4" in the shlibs file.
  if(soname MATCHES "^(.+)\\.so\\.([0-9.]+)$")
    set(key "${CMAKE_MATCH_1} ${CMAKE_MATCH_2}")
    execute_process(COMMAND dpkg-query --control-show ${package} shlibs
                    OUTPUT_VARIABLE shlibs RESULT_VARIABLE rc ERROR_QUIET)
    if(rc EQUAL 0)
      string(REPLACE "\n" ";" lines "${shlibs}")
      string(LENGTH "${key} " keylength)
      foreach(line IN LISTS lines)
        string(FIND "${line}" "${key} " at)
        if(at EQUAL 0)
          string(SUBSTRING "${line}" ${keylength} -1 depends)
          string(STRIP "${depends}" depends)
          break()
        endif()
      endforeach()
    endif()
  endif()
  set(${var} "${depends}" PARENT_SCOPE)
endfunction()

# qvr_debian_dev_depends(<var> <imported target>): the package that provides
# the link-time file of an imported target (zlib1g-dev for ZLIB::ZLIB).
function(qvr_debian_dev_depends var target)
  qvr_imported_location(location ${target})
  qvr_debian_package_of(package ${location})
  if(NOT package)
    message(FATAL_ERROR "No installed Debian package holds ${location}")
  endif()
  set(${var} ${package} PARENT_SCOPE)
endfunction()
