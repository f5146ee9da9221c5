# Every target of the project builds with warnings as errors.
add_compile_options(-Wall -Wextra -Werror)

if(K27_SANITIZE)
  add_compile_options(-fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer)
  add_link_options(-fsanitize=address,undefined)
endif()
