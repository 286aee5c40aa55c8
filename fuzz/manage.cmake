# the management services' fuzz targets
