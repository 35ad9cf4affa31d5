# export_init_only(TARGET INIT): links the extension TARGET so that it exports nothing but its init
# function INIT. A wheel's toolchain links its own C++ runtime into the module
# (tools/build-wheels.sh); those symbols (operator new among them) must stay private, or they could
# bind to, or stand in for, the runtime of another extension in the same process.
function(export_init_only target init)
  set(exports "${CMAKE_CURRENT_BINARY_DIR}/${target}.exports")
  file(WRITE "${exports}" "{ global: ${init}; local: *; };\n")
  target_link_options(${target} PRIVATE "LINKER:--version-script=${exports}")
  set_property(TARGET ${target} APPEND PROPERTY LINK_DEPENDS "${exports}")
endfunction()
