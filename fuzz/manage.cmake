# the management services' fuzz targets
mapview_fuzz(fuzz_csv FuzzCsv.cpp LIBS manage)
