// The hidden control window, its controls and the tray icon.
#pragma once

void CreateMainWindow();
