# Manual pages, made at build time by Debian's tools from one source each: brim-fleet(1) and
# brim-rr(1) by help2man from the program's --help, brim_init(8) by go-md2man from
# init/brim_init.8.md. A router's flash has no room for them (off by default when cross
# compiling). Without a tool the build goes on without its pages, and says so here.
include_guard(GLOBAL)
if(CMAKE_CROSSCOMPILING)
  option(BRIM_MAN "Make and install the manual pages" OFF)
else()
  option(BRIM_MAN "Make and install the manual pages" ON)
endif()
if(NOT BRIM_MAN)
  return()
endif()
find_program(BRIM_HELP2MAN help2man)
find_program(BRIM_MD2MAN go-md2man)
set(_man_dir ${CMAKE_BINARY_DIR}/man)
file(MAKE_DIRECTORY ${_man_dir})
set(_pages)

if(BRIM_MD2MAN)
  add_custom_command(OUTPUT ${_man_dir}/brim_init.8
    COMMAND ${BRIM_MD2MAN} -in ${CMAKE_SOURCE_DIR}/init/brim_init.8.md -out ${_man_dir}/brim_init.8
    DEPENDS ${CMAKE_SOURCE_DIR}/init/brim_init.8.md VERBATIM)
  list(APPEND _pages ${_man_dir}/brim_init.8)
  install(FILES ${_man_dir}/brim_init.8 DESTINATION ${CMAKE_INSTALL_MANDIR}/man8 COMPONENT runtime)
else()
  message(STATUS "go-md2man not found: no brim_init(8) (scripts/deps.sh installs it)")
endif()

if(TARGET brim-fleet AND BRIM_HELP2MAN)
  foreach(tool brim-fleet brim-rr)
    if(tool STREQUAL brim-fleet)
      set(_what "one management request to a fleet of routers through the cloud broker")
    else()
      set(_what "a stream of MQTT requests, each reply matched to its request")
    endif()
    add_custom_command(OUTPUT ${_man_dir}/${tool}.1
      COMMAND ${BRIM_HELP2MAN} --no-info --section=1 --version-string=${PROJECT_VERSION} --source=brimlib
        "--name=${_what}" --output=${_man_dir}/${tool}.1 $<TARGET_FILE:${tool}>
      DEPENDS ${tool} VERBATIM)
    list(APPEND _pages ${_man_dir}/${tool}.1)
    install(FILES ${_man_dir}/${tool}.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT operator)
  endforeach()
elseif(TARGET brim-fleet)
  message(STATUS "help2man not found: no brim-fleet(1), brim-rr(1) (scripts/deps.sh installs it)")
endif()
add_custom_target(man_pages ALL DEPENDS ${_pages})
