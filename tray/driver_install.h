// Installs the tone driver from its INF and starts its service.
#pragma once

void EnsureDriverRunning();
int InstallDriverFromInf(const char *infPath);
int StartDriverService(const char *serviceName);
