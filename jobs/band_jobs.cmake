# The named jobs over fennick and the band tools (dissimilarity, calc): included from
# jobs/CMakeLists.txt.
add_library(jobs_band STATIC
  ${CMAKE_CURRENT_LIST_DIR}/dissimilarity.cpp ${CMAKE_CURRENT_LIST_DIR}/calc.cpp)
target_include_directories(jobs_band PUBLIC ${CMAKE_CURRENT_LIST_DIR})
target_link_libraries(jobs_band PUBLIC jobs_core fennick_lib bandmath_engine)
suite_program(dissimilarity rastertools-dissimilarity
  "dissimilarity of the vegetation composition of two periods in calendar years, NetCDF or raw"
  ${CMAKE_CURRENT_LIST_DIR}/dissimilarity_main.cpp)
target_link_libraries(rastertools-dissimilarity PRIVATE jobs_band)
suite_program(calc rastertools-calc
  "band arithmetic (sum, product, quotient, add, scale, limits, logistic, select) by calendar years"
  ${CMAKE_CURRENT_LIST_DIR}/calc_main.cpp)
target_link_libraries(rastertools-calc PRIVATE jobs_band)
