# morva_manual_beside(TARGET): the desktop program opens its manual from beside the executable,
# so the build tree holds a copy there, as an installed tree does. Sets morva_manual to the
# manual's source path for the caller's install rule.
function(morva_manual_beside target)
  set(manual ${CMAKE_SOURCE_DIR}/docs/morva-manual.html)
  set(copy ${CMAKE_CURRENT_BINARY_DIR}/morva-manual.html)
  add_custom_command(OUTPUT ${copy} COMMAND ${CMAKE_COMMAND} -E copy_if_different ${manual} ${copy}
                     DEPENDS ${manual})
  add_custom_target(${target}_manual ALL DEPENDS ${copy})
  add_dependencies(${target} ${target}_manual)
  set(morva_manual ${manual} PARENT_SCOPE)
endfunction()
