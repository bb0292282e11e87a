# The mask region's sources, for every target that builds the region from
# source: the engine's library, and the fuzz targets, which compile it with
# their own instrumentation.
set(VELUMO_REGION_SOURCES
  ${CMAKE_CURRENT_LIST_DIR}/mask_region.cpp
  ${CMAKE_CURRENT_LIST_DIR}/piece_pool.cpp
  ${CMAKE_CURRENT_LIST_DIR}/edge_index.cpp
  ${CMAKE_CURRENT_LIST_DIR}/edge_values.cpp
  ${CMAKE_CURRENT_LIST_DIR}/piece_grid.cpp
  ${CMAKE_CURRENT_LIST_DIR}/layout_check.cpp
  ${CMAKE_CURRENT_LIST_DIR}/region_check.cpp)
