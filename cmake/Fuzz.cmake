# The libFuzzer targets alone (configure with CC=clang CXX=clang++
# -DK27_FUZZ=ON): the ccTalk frame logic and the dictionary reader, neither
# of which needs Qt or the board, and the daemon's request decoder with the
# board device's control codes behind it.
if(NOT CMAKE_CXX_COMPILER_ID MATCHES "Clang")
  message(FATAL_ERROR "K27_FUZZ needs clang: configure with CC=clang CXX=clang++")
endif()

find_package(pugixml REQUIRED)
set(_k27_fuzz_flags -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer -g -O1)
set(_k27_cctalk ${PROJECT_SOURCE_DIR}/cctalk)

add_executable(fuzz_dictionary ${_k27_cctalk}/tests/fuzz_dictionary.cpp ${_k27_cctalk}/DictionaryStore.cpp
                               ${_k27_cctalk}/DictionaryText.cpp)
target_include_directories(fuzz_dictionary PRIVATE ${_k27_cctalk})
target_link_libraries(fuzz_dictionary PRIVATE pugixml::pugixml)

# The base layer's sources, the same list its library builds.
set(_k27_common ${PROJECT_SOURCE_DIR}/common)
include(${_k27_common}/sources.cmake)

add_executable(fuzz_message ${_k27_cctalk}/tests/fuzz_message.cpp ${_k27_cctalk}/CcctalkMessage.cpp
                            ${_k27_common}/src/Hex.cpp)
target_include_directories(fuzz_message PRIVATE ${_k27_cctalk} ${PROJECT_SOURCE_DIR}/boardapi/include
                           ${_k27_common}/include)

# The driver logic without the daemon's plug and play (which needs the
# firmware images) or its simulator console.
find_package(Threads REQUIRED)
set(_k27_vantrelio ${PROJECT_SOURCE_DIR}/drivers/vantrelio)
include(${_k27_vantrelio}/sources.cmake)
add_executable(fuzz_request ${_k27_vantrelio}/tests/fuzz_request.cpp ${vantrelio_driver_sources}
                            ${PROJECT_SOURCE_DIR}/protocol/src/ControlProtocol.cpp ${k27_common_sources}
                            ${PROJECT_SOURCE_DIR}/drivers/usbhost/src/UsbTypes.cpp)
target_include_directories(fuzz_request PRIVATE ${_k27_vantrelio}/src ${_k27_vantrelio}/include
                           ${PROJECT_SOURCE_DIR}/protocol/include
                           ${PROJECT_SOURCE_DIR}/drivers/usbhost/include ${PROJECT_SOURCE_DIR}/sim/include
                           ${_k27_common}/include)
target_link_libraries(fuzz_request PRIVATE Threads::Threads)

foreach(_k27_fuzzer fuzz_dictionary fuzz_message fuzz_request)
  target_compile_options(${_k27_fuzzer} PRIVATE ${_k27_fuzz_flags})
  target_link_options(${_k27_fuzzer} PRIVATE ${_k27_fuzz_flags})
endforeach()
