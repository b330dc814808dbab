# cmake -DFILE=PATH -P print-size.cmake: prints the size of a built file.
file(SIZE "${FILE}" size)
get_filename_component(name "${FILE}" NAME)
message("${name}: ${size} bytes")
