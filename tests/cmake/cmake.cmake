# The include check (cmake/QvrArchitectureCheck.cmake) over a tree of
# forbidden includes: each must be reported, so that the check that guards the
# real tree (the test `architecture` and the build step before every layer)
# cannot pass by seeing nothing.
add_test(NAME architecture_refuses
         COMMAND ${CMAKE_COMMAND} -DQVR_RULES=${CMAKE_BINARY_DIR}/architecture-rules.cmake
                 -DQVR_SOURCE_DIR=${CMAKE_CURRENT_LIST_DIR}/forbidden-includes
                 -P ${CMAKE_SOURCE_DIR}/cmake/QvrArchitectureCheck.cmake)
set(refusals
    "config/Window.cpp: includes <QWidget>, but only app/ includes Qt"
    "rest/datasets/UsesDetail.cpp: includes data/detail/Inner.h, but a detail/ folder serves only its own folder \\(data\\)"
    "rest/http/Client.cpp: includes rest/json/Value.h, but rest/http \\(http\\) may include only platform"
    "rest/http/Leak.h: a public header of the core includes <curl/curl.h>"
    "server/Front.cpp: includes client/Module.h, but server \\(server\\) may include only")
list(JOIN refusals ".*" refusals_pattern)
set_tests_properties(architecture_refuses PROPERTIES LABELS architecture TIMEOUT 60
                     PASS_REGULAR_EXPRESSION "5 include\\(s\\) break.*${refusals_pattern}")
