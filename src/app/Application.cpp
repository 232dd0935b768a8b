int QuillfetchMain(int, char**) { return 0; }
