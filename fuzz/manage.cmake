# the management services' fuzz targets
mapview_fuzz(fuzz_csv FuzzCsv.cpp)
target_link_libraries(fuzz_csv PRIVATE manage)
