# The about box; included from the ui folder's list file.
add_library(korva_about STATIC ${CMAKE_CURRENT_LIST_DIR}/Aboutform.cpp)
set_target_properties(korva_about PROPERTIES AUTOMOC ON)
korva_target(korva_about ui)
target_link_libraries(korva_about PUBLIC Qt6::Widgets Qt6::Gui)
