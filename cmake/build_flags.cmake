# morva_build_flags: what the code of this project compiles and links with. An INTERFACE target
# that every target of ours takes through morva_source_root, rather than flags for the whole
# directory tree, so that code we only compile (GoogleTest's sources in the Windows build)
# keeps its own. The options are those of the root CMakeLists.txt.
add_library(morva_build_flags INTERFACE)

set(flags -Wall -Wextra -Wpedantic)
if(MORVA_WERROR)
  list(APPEND flags -Werror)
endif()
if(MORVA_SANITIZE OR MORVA_FUZZ)
  # The fuzz target is sanitized the same way: a report stops the run with the input.
  list(APPEND flags -fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=all)
  target_link_options(morva_build_flags INTERFACE -fsanitize=address,undefined)
elseif(NOT WIN32 AND NOT EMSCRIPTEN)
  # Hardened as Debian builds its own packages, in every Linux build, so that the tests run
  # what ships: a stack protector, libc calls checked against the buffers' sizes where
  # optimisation lets the compiler know them, and a read-only GOT. (Sanitized builds check more
  # themselves.)
  set(optimised $<CONFIG:Release,RelWithDebInfo,MinSizeRel>)
  list(APPEND flags -fstack-protector-strong $<${optimised}:-U_FORTIFY_SOURCE>
                    $<${optimised}:-D_FORTIFY_SOURCE=2>)
  target_link_options(morva_build_flags INTERFACE LINKER:-z,relro,-z,now)
endif()
# C++ only: the Windows resource compiler takes none of them.
target_compile_options(morva_build_flags INTERFACE "$<$<COMPILE_LANGUAGE:CXX>:${flags}>")
unset(flags)
