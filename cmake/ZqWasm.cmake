# The WebAssembly build of the game's rules, as a second toolchain of this project: Debian's
# emscripten configures and builds this same source tree in build/wasm (the top CMakeLists
# then takes only the rules' libraries and the replay checker). Nothing is fetched: emscripten's
# "ports" are never asked for, and zlib's job is done by the program's own reader.
# emscripten runs parts of itself under node, which finds their modules through NODE_PATH when
# the node on the PATH is not Debian's own.
find_program(ZQ_EMCMAKE emcmake)
find_program(ZQ_NODE NAMES node nodejs)
if(NOT ZQ_EMCMAKE OR NOT ZQ_NODE)
  message(FATAL_ERROR "ZQ_BUILD_WASM needs emscripten and node (scripts/setup.sh installs them), "
                      "or configure with -DZQ_BUILD_WASM=OFF")
endif()
set(ZQ_WASM_DIR ${CMAKE_BINARY_DIR}/wasm)
set(ZQ_WASM_ENV ${CMAKE_COMMAND} -E env NODE_PATH=/usr/share/nodejs)
set(ZQ_WASM_CHECKER ${ZQ_WASM_DIR}/checker/zq_replay_checks.js)

include(ExternalProject)
ExternalProject_Add(zq_wasm
  SOURCE_DIR ${PROJECT_SOURCE_DIR}
  BINARY_DIR ${ZQ_WASM_DIR}
  CONFIGURE_COMMAND ${ZQ_WASM_ENV} ${ZQ_EMCMAKE} ${CMAKE_COMMAND} -G Ninja
    -DCMAKE_BUILD_TYPE=Release -DZQ_WERROR=${ZQ_WERROR} -DZQ_BUILD_TESTS=OFF
    -DZQ_BUILD_BENCH=${ZQ_BUILD_BENCH} <SOURCE_DIR>
  BUILD_COMMAND ${ZQ_WASM_ENV} ${CMAKE_COMMAND} --build <BINARY_DIR>
  INSTALL_COMMAND ""
  BUILD_ALWAYS ON
  BUILD_BYPRODUCTS ${ZQ_WASM_CHECKER}
  USES_TERMINAL_BUILD ON)
