// The configuration record's ini file. This first layer only does what the program start
// needs before the ini file is read: the defaults and the single-instance start check.
// The reading and writing of tandor.ini come with the configuration subsystem.
#pragma once

// Fills inidat and runs the start check (functions below 40 and 50). Results: -1 stop the
// program now (start check failed), 0 configuration complete.
int iv_iniparse();
