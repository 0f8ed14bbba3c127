# `cmake --graphviz` (docs/arquitectura.dot): the program's libraries and programs with the Qt
# modules they link; tests, benchmarks, fuzz targets and Qt's own inner targets left out.
set(GRAPHVIZ_GRAPH_NAME "Velrisa")
set(GRAPHVIZ_GENERATE_PER_TARGET FALSE)
set(GRAPHVIZ_GENERATE_DEPENDERS FALSE)
set(GRAPHVIZ_OBJECT_LIBS FALSE)
set(GRAPHVIZ_CUSTOM_TARGETS FALSE)
set(GRAPHVIZ_IGNORE_TARGETS "^tst_" "^bench" "^fuzz" "velrisa_fakes" "velrisa_samba_testing" "Qt6::Test" "Qt6::DBus" "Qt6::Platform"
    "Qt6::moc" "Qt6::rcc" "Qt6::uic" "OpenGL::" "Vulkan" "XKB" "Threads" "Wrap" "PkgConfig::" "^-" "^/")
