// The serial port and the AT command exchange with the modem. This first layer only
// offers the calls that the program start and end make; the exchange itself comes with
// the modem subsystem.
#pragma once

// Closes the modem layer at program end (nothing is open yet).
void cm_end();
