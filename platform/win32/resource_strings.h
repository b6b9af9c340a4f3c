// The program's string table, one list for both builds: the Linux layer's resource table
// (resources.cpp) and the Windows resource script (app/ferrowalk.rc) expand it, each with
// its own STRING(id, text).
#pragma once

#define FERROWALK_STRING_TABLE(STRING)                                                             \
    STRING(103, "Ferrowalk")                                                                       \
    STRING(109, "FERROWALK")
