# The demo setup of the run command: a stand-in Thief 2 game directory and sample mission
# archives under <build>/demo, and settings beside the executable pointing at them (only
# when no settings exist yet).
find_package(Python3 COMPONENTS Interpreter)
if(Python3_Interpreter_FOUND)
    add_custom_target(demo
        COMMAND ${Python3_EXECUTABLE} ${CMAKE_SOURCE_DIR}/data/demo/make_demo.py
                ${CMAKE_BINARY_DIR}/demo ${TM_RUNTIME_DIR}
        DEPENDS ${CMAKE_SOURCE_DIR}/data/demo/make_demo.py
        COMMENT "Preparing the demo setup in ${CMAKE_BINARY_DIR}/demo"
        VERBATIM)
else()
    add_custom_target(demo
        COMMAND ${CMAKE_COMMAND} -E echo "python3 is needed for the demo setup"
        COMMAND ${CMAKE_COMMAND} -E false)
endif()
