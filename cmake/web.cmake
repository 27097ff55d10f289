# The page's build (build-web: emcmake cmake -S . -B build-web), read by the root CMakeLists.txt
# in place of its own folder list: the same engine (transfer, link, display, app), the portable
# part of platform/ and the simulated device compiled to WebAssembly, the browser's OS layer and
# the page. With MORVA_TESTS the engine's unit tests are built too and run under node.
#
# Debian's emscripten needs NODE_PATH=/usr/share/nodejs to find its own JavaScript modules
# (tools/web.sh sets it). The engine throws nothing, so C++ exceptions stay off: a throw would
# abort, and the page is smaller and faster without the unwinding tables.

set(MORVA_DIRS transfer record link display app platform)
foreach(dir ${MORVA_DIRS})
  add_subdirectory(${dir})
endforeach()

# The simulated device the page lists as a port: its protocol and memory, without the pty and
# the thread of the desktop's simulator.
add_library(morva_sim_device STATIC ${CMAKE_SOURCE_DIR}/sim/device.cpp
                                    ${CMAKE_SOURCE_DIR}/sim/fault.cpp
                                    ${CMAKE_SOURCE_DIR}/sim/memory_image.cpp
                                    ${CMAKE_SOURCE_DIR}/sim/wire_trace.cpp)
target_link_libraries(morva_sim_device PUBLIC morva_source_root)
morva_module(morva_sim_device DIR sim)

add_subdirectory(platform/web)
add_subdirectory(frontends/web)

if(MORVA_TESTS)
  enable_testing()
  add_subdirectory(tests/web)
endif()

set(MORVA_ABSENT_DIRS platform/win32 frontends/cli frontends/qt frontends/win32 fuzz)
morva_write_module_graph(${CMAKE_BINARY_DIR}/module_graph.txt "${MORVA_ABSENT_DIRS}")
