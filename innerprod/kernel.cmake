# The accumulation kernel (fast paths and the plain reference).
add_library(gramkernel STATIC gram_kernel.cpp gram_kernel_ref.cpp)
target_include_directories(gramkernel PUBLIC ${CMAKE_CURRENT_SOURCE_DIR})
