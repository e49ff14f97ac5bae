# dissimilarity and calc in-process against fennick and the band tools, their refusals, and cdo
# reading their NetCDF outputs: included from tests/jobs/CMakeLists.txt.
suite_test(band_jobs_test ${CMAKE_CURRENT_LIST_DIR}/band_jobs_test.cpp)
target_link_libraries(band_jobs_test PRIVATE jobs_band jobs_test_support interop_fixtures)
target_include_directories(band_jobs_test PRIVATE ${CMAKE_CURRENT_LIST_DIR}/../interop)
add_dependencies(band_jobs_test rastertools-import)
