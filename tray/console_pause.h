// "Press any key to continue . . . " on the program's console, and the
// wait for that key, without starting a command interpreter.
#pragma once

#include <stdio.h>

void PauseForAnyKey(FILE *console);
