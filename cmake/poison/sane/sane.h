#error "The logic (cli/, discovery/, session/, simulator/) reaches the platform only through the interfaces in platform/."
