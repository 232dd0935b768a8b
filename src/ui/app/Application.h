#pragma once

struct AppServices;

// The whole program: creates the application object and the desktop services, loads the
// start-up window and runs until it is unloaded. main() only calls this.
int QuillfetchMain(int argc, char** argv);

// Runs the program inside an existing application object with the given services: loads
// the start-up window, runs the event loop until the start-up window is unloaded, then
// deletes the windows. Returns the exit code.
int RunQuillfetch(const AppServices& services);
