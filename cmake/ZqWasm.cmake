# The WebAssembly build of the game's rules, as a second toolchain of this project: Debian's
# emscripten configures and builds this same source tree in build/wasm (the top CMakeLists
# then takes only the rules' libraries and the replay checker). Nothing is fetched: emscripten's
# "ports" are never asked for, and zlib's job is done by the program's own reader.
# emscripten runs parts of itself under node, which finds their modules through NODE_PATH when
# the node on the PATH is not Debian's own. The compiler flags in the environment are the native
# compiler's (a package build hands it the hardening flags, whose stack protector emscripten's
# C library lacks), so the WebAssembly build starts without them.
find_program(ZQ_EMCMAKE emcmake)
find_program(ZQ_NODE NAMES node nodejs)
if(NOT ZQ_EMCMAKE OR NOT ZQ_NODE)
  message(FATAL_ERROR "ZQ_BUILD_WASM needs emscripten and node (scripts/setup.sh installs them), "
                      "or configure with -DZQ_BUILD_WASM=OFF")
endif()
set(ZQ_WASM_DIR ${CMAKE_BINARY_DIR}/wasm)
set(ZQ_WASM_ENV ${CMAKE_COMMAND} -E env --unset=CFLAGS --unset=CXXFLAGS --unset=CPPFLAGS
    --unset=LDFLAGS NODE_PATH=/usr/share/nodejs)
set(ZQ_WASM_CHECKER ${ZQ_WASM_DIR}/checker/zq_replay_checks.js)
# The browser viewer: its data pack, made here by the native zq_viewerpack from the runnable
# folder's files, goes into the WebAssembly build's bundle (build/wasm/viewer/bundle), which is
# then copied beside the board's web page (build/board/web/viewer).
set(ZQ_VIEWER_DATA ${CMAKE_BINARY_DIR}/viewer/zarquill-viewer-data.bin)
set(ZQ_VIEWER_BUNDLE ${ZQ_WASM_DIR}/viewer/bundle)
set(viewer_data_deps zq_viewerpack)
if(TARGET zq_assets)
  list(APPEND viewer_data_deps zq_assets)
endif()
add_custom_command(OUTPUT ${ZQ_VIEWER_DATA}
  COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/viewer
  COMMAND zq_viewerpack ${ZQ_FILES_DIR} ${ZQ_VIEWER_DATA}
  DEPENDS ${viewer_data_deps}
  COMMENT "Packing the browser viewer's data"
  VERBATIM)
add_custom_target(zq_viewer_data DEPENDS ${ZQ_VIEWER_DATA})

include(ExternalProject)
ExternalProject_Add(zq_wasm
  SOURCE_DIR ${PROJECT_SOURCE_DIR}
  BINARY_DIR ${ZQ_WASM_DIR}
  CONFIGURE_COMMAND ${ZQ_WASM_ENV} ${ZQ_EMCMAKE} ${CMAKE_COMMAND} -G Ninja
    -DCMAKE_BUILD_TYPE=Release -DZQ_WERROR=${ZQ_WERROR} -DZQ_BUILD_TESTS=OFF
    -DZQ_BUILD_BENCH=${ZQ_BUILD_BENCH} -DZQ_VIEWER_DATA=${ZQ_VIEWER_DATA} <SOURCE_DIR>
  BUILD_COMMAND ${ZQ_WASM_ENV} ${CMAKE_COMMAND} --build <BINARY_DIR>
  INSTALL_COMMAND ""
  BUILD_ALWAYS ON
  BUILD_BYPRODUCTS ${ZQ_WASM_CHECKER}
  USES_TERMINAL_BUILD ON
  DEPENDS zq_viewer_data)
ExternalProject_Add_Step(zq_wasm viewer_bundle
  COMMAND ${CMAKE_COMMAND} -E rm -rf ${CMAKE_BINARY_DIR}/board/web/viewer
  COMMAND ${CMAKE_COMMAND} -E copy_directory ${ZQ_VIEWER_BUNDLE} ${CMAKE_BINARY_DIR}/board/web/viewer
  DEPENDEES build
  ALWAYS ON)
