#include "driver_install.h"

// TEMPORARY: the driver is not installed or started yet.
void EnsureDriverRunning()
{
}
