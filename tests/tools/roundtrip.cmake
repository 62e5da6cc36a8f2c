include(${CMAKE_CURRENT_LIST_DIR}/vekutil_common.cmake)
