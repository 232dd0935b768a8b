#pragma once

// Lets pending events run: input, paints, timers, network replies. Meant for wait loops that
// call it and then re-check their flags and clock: when nothing is pending it sleeps until
// the next event or for at most a few milliseconds, so a wait never spins a core.
void DoEvents();

// For loops that do work at every step (a row at a time) and only need to keep the window
// responsive: runs pending events without ever sleeping, at most every few milliseconds,
// so a loop over many thousand rows is not slowed by it.
void KeepResponsive();

// How many DoEvents()/KeepResponsive() calls are on the stack right now. Code that must end
// the program uses it to know whether a plain return to the main loop is possible.
int EventPumpDepth();
