# The accumulation kernel: the plain reference, the tiling driver and one unit
# per instruction set, each compiled with its own flags (never -march=native:
# the driver picks the widest version the running CPU supports). Elsewhere
# than on x86-64 the plain reference is what runs.
add_library(gramkernel STATIC gram_kernel.cpp gram_kernel_ref.cpp)
target_include_directories(gramkernel PUBLIC ${CMAKE_CURRENT_SOURCE_DIR})
if(CMAKE_SYSTEM_PROCESSOR MATCHES "^(x86_64|AMD64|amd64)$")
  target_sources(gramkernel PRIVATE gram_kernel_sse2.cpp gram_kernel_avx2.cpp gram_kernel_avx512.cpp
                                   gram_kernel_avx512vl.cpp)
  set_source_files_properties(gram_kernel_avx2.cpp PROPERTIES COMPILE_OPTIONS "-mavx2")
  set_source_files_properties(gram_kernel_avx512.cpp PROPERTIES COMPILE_OPTIONS "-mavx512f")
  set_source_files_properties(gram_kernel_avx512vl.cpp PROPERTIES COMPILE_OPTIONS
                              "-mavx512f;-mavx512vl")
endif()
