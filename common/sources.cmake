# The base layer's sources, read by its library and by the fuzz build, which
# compiles them with the fuzzer's flags.
set(k27_common_sources
  ${CMAKE_CURRENT_LIST_DIR}/src/Hex.cpp
  ${CMAKE_CURRENT_LIST_DIR}/src/IoRefCount.cpp
  ${CMAKE_CURRENT_LIST_DIR}/src/Log.cpp
  ${CMAKE_CURRENT_LIST_DIR}/src/LogRateLimiter.cpp
  ${CMAKE_CURRENT_LIST_DIR}/src/OptionText.cpp
  ${CMAKE_CURRENT_LIST_DIR}/src/SeqPacketSocket.cpp
  ${CMAKE_CURRENT_LIST_DIR}/src/UniqueFd.cpp)
