# Settings for the native Linux build (the stamp service and its tests).
add_compile_options(-Wall -Wextra)
find_package(GTest REQUIRED)
find_package(Threads REQUIRED)
option(TAMBREL_SANITIZE "Build with AddressSanitizer and UndefinedBehaviorSanitizer" OFF)
if(TAMBREL_SANITIZE)
  add_compile_options(-fsanitize=address,undefined -fno-omit-frame-pointer)
  add_link_options(-fsanitize=address,undefined)
endif()
