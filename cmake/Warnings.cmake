# Warnings are on for every build; as errors only where asked (the presets
# and CI set K27_WERROR), so that a packager's compiler or flags never break
# a build over a new warning.
option(K27_WERROR "Treat compiler warnings as errors" OFF)
add_compile_options(-Wall -Wextra)
if(K27_WERROR)
  add_compile_options(-Werror)
endif()

if(K27_SANITIZE)
  add_compile_options(-fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer)
  add_link_options(-fsanitize=address,undefined)
endif()
