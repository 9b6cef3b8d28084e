// Installs the tone driver from its INF and starts its service.
#pragma once

// Start-up: installs and starts on the calling thread.
void EnsureDriverRunning();
// A switch to the buzzer: the same on a thread of its own, unless the
// service runs already.
void EnsureDriverRunningInBackground();
int InstallDriverFromInf(const char *infPath);
int StartDriverService(const char *serviceName);
