# The designer page's files, as the wasm build makes them in its designer/
# folder: the page's own files, and its worker's source with the module
# inside (worker-source.js). Used by designer/CMakeLists.txt and, for the
# Windows .zip, by cmake/packaging.cmake.
set(SU55IF_DESIGNER_PAGE_FILES index.html designer.css table.js scenario.js beds.js designer.js)
set(SU55IF_DESIGNER_FILES ${SU55IF_DESIGNER_PAGE_FILES} worker-source.js)
