# tests of the shell and file helpers, the OS text and the desktop seams
qf_add_test(test_filehelpers SOURCES test_filehelpers.cpp LIBS quillfetch_core)
qf_add_test(test_shellhelpers SOURCES test_shellhelpers.cpp LIBS quillfetch_core)
qf_add_test(test_ostext SOURCES test_ostext.cpp LIBS quillfetch_core)
qf_add_test(test_desktopshell SOURCES test_desktopshell.cpp LIBS quillfetch_ui)
qf_add_test(test_qtprompt SOURCES test_qtprompt.cpp LIBS quillfetch_ui)
