# bench_kernel: the accumulation kernel against its plain reference and
# against the machine's separate multiply+add peak (see docs/kernel.md).
if(CMAKE_SYSTEM_PROCESSOR MATCHES "^(x86_64|AMD64|amd64)$")
  add_executable(bench_kernel kernel_bench.cpp kernel_peak_sse2.cpp kernel_peak_avx2.cpp
                              kernel_peak_avx512.cpp kernel_peak_avx512vl.cpp)
  set_source_files_properties(kernel_peak_avx2.cpp PROPERTIES COMPILE_OPTIONS "-mavx2")
  set_source_files_properties(kernel_peak_avx512.cpp PROPERTIES COMPILE_OPTIONS "-mavx512f")
  set_source_files_properties(kernel_peak_avx512vl.cpp PROPERTIES COMPILE_OPTIONS
                              "-mavx512f;-mavx512vl")
  target_link_libraries(bench_kernel PRIVATE gramblocks gramkernel benchmark::benchmark)
endif()
