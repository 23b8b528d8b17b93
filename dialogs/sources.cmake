# The dialogs are built into the program's GUI library (app/CMakeLists.txt).
set(KORVALEN_DIALOG_SOURCES
  ${CMAKE_CURRENT_LIST_DIR}/dialogwindow.h
  ${CMAKE_CURRENT_LIST_DIR}/Unit2.cpp ${CMAKE_CURRENT_LIST_DIR}/Unit2.h
  ${CMAKE_CURRENT_LIST_DIR}/Unit3.cpp ${CMAKE_CURRENT_LIST_DIR}/Unit3.h
  ${CMAKE_CURRENT_LIST_DIR}/about.cpp ${CMAKE_CURRENT_LIST_DIR}/about.h
  ${CMAKE_CURRENT_LIST_DIR}/jpegimage.cpp ${CMAKE_CURRENT_LIST_DIR}/jpegimage.h
  ${CMAKE_CURRENT_LIST_DIR}/../resources/about.ui
)
