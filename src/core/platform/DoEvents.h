#pragma once

// Lets pending events run: input, paints, timers, network replies. Meant for wait loops that
// call it and then re-check their flags and clock: when nothing is pending it sleeps until
// the next event or for at most a few milliseconds, so a wait never spins a core.
void DoEvents();

// For loops that do work at every step (a row at a time): runs what is pending and returns at
// once, never sleeping. Every call pumps, so a stop request that arrived during a step is
// handled when the step ends; with nothing pending a call costs about a microsecond, so a
// loop over many thousand rows is not slowed by it.
void KeepResponsive();

// How many DoEvents()/KeepResponsive() calls are on the stack right now. Code that must end
// the program uses it to know whether a plain return to the main loop is possible.
int EventPumpDepth();

// The program is ending while code further up the stack waits in a loop: set once by the
// start-up window's unload. Every wait loop looks at it after each pump and unwinds, so the
// program leaves through its normal way out, which shuts the browser profile down cleanly.
void RequestQuit();
bool QuitRequested();
