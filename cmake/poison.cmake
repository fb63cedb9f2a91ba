# qev and its driver host are two programs that share only common/ and jpeg/. Each side's
# include path gets a folder of stand-ins for the other side's headers, each of which stops the
# build, so that a host file including qev's code (or the reverse) fails to compile instead of
# quietly growing a dependency. The stand-ins are made anew whenever a header comes or goes.

function(qev_poison folder message)
  set(root ${CMAKE_CURRENT_BINARY_DIR}/poison/${folder})
  file(REMOVE_RECURSE ${root})
  file(GLOB_RECURSE headers CONFIGURE_DEPENDS RELATIVE ${CMAKE_CURRENT_SOURCE_DIR} ${ARGN})
  foreach(header IN LISTS headers)
    file(WRITE ${root}/${header} "#error \"${message}\"\n")
  endforeach()
endfunction()

qev_poison(host "qev's code does not include the driver host's (host/): the two programs speak only over the wire in common/wire.h."
  ${CMAKE_CURRENT_SOURCE_DIR}/host/*.h)
set(qev_poison_host ${CMAKE_CURRENT_BINARY_DIR}/poison/host)

qev_poison(qev "The driver host (host/) does not include qev's code: it shares only common/ and jpeg/ with qev."
  ${CMAKE_CURRENT_SOURCE_DIR}/platform/*.h ${CMAKE_CURRENT_SOURCE_DIR}/cli/*.h
  ${CMAKE_CURRENT_SOURCE_DIR}/discovery/*.h ${CMAKE_CURRENT_SOURCE_DIR}/session/*.h
  ${CMAKE_CURRENT_SOURCE_DIR}/simulator/*.h)
set(qev_poison_qev ${CMAKE_CURRENT_BINARY_DIR}/poison/qev)
