# An episode as a WebM video, and the small pictures of its rows, decoded off
# the GUI thread at an eighth of their size and kept within a memory budget.
target_sources(vistrel_episodes PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/video_export.cpp
  ${CMAKE_CURRENT_LIST_DIR}/thumbnail_decoder.cpp
  ${CMAKE_CURRENT_LIST_DIR}/thumbnail_cache.cpp
  ${CMAKE_CURRENT_LIST_DIR}/thumbnail_loader.cpp
)
target_link_libraries(vistrel_episodes PUBLIC Qt6::Gui PkgConfig::GST JPEG::JPEG)
