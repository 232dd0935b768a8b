#pragma once

// The whole program: creates the application object and the desktop services, loads the
// start-up window and runs until it is unloaded. main() only calls this.
int QuillfetchMain(int argc, char** argv);
