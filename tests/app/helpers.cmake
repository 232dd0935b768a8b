# tests of the shell and file helpers, the OS text and the desktop seams
