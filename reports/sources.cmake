# The report windows and commands, built into the program beside the main window.
set(KORVALEN_REPORT_SOURCES
  ${CMAKE_CURRENT_LIST_DIR}/historywindow.cpp ${CMAKE_CURRENT_LIST_DIR}/historywindow.h
  ${CMAKE_CURRENT_LIST_DIR}/whohaswhat.cpp ${CMAKE_CURRENT_LIST_DIR}/whohaswhat.h
  ${CMAKE_CURRENT_LIST_DIR}/loanmodel.cpp ${CMAKE_CURRENT_LIST_DIR}/loanmodel.h
  ${CMAKE_CURRENT_LIST_DIR}/reportsmenu.cpp ${CMAKE_CURRENT_LIST_DIR}/reportsmenu.h
  ${CMAKE_CURRENT_LIST_DIR}/reportwindow.cpp ${CMAKE_CURRENT_LIST_DIR}/reportwindow.h
  ${CMAKE_CURRENT_LIST_DIR}/reportsettings.cpp ${CMAKE_CURRENT_LIST_DIR}/reportsettings.h
  ${CMAKE_CURRENT_LIST_DIR}/summarycount.cpp ${CMAKE_CURRENT_LIST_DIR}/summarycount.h
  ${CMAKE_CURRENT_LIST_DIR}/savefile.cpp ${CMAKE_CURRENT_LIST_DIR}/savefile.h
  ${PROJECT_SOURCE_DIR}/resources/LoanHistory.ui
  ${PROJECT_SOURCE_DIR}/resources/WhoHasWhat.ui
)
