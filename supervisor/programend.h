// The program end: the one place where the program decides to end. This first layer
// ends the program in order (flags released, threads terminated, session released); the
// interruptions, rests and automatic end conditions come with the connection subsystem.
#pragma once

// erzwingen: request the end now. Returns false when nothing is to be done; does not
// return when the program ends.
bool programmende(bool erzwingen);
