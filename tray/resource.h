// Resource and control ids of the tray program. The command ids that other
// processes send live in pitchkeeper_shared.h.
#pragma once

#include "pitchkeeper_shared.h"

#define IDI_BEEP_ON 101
#define IDI_BEEP_OFF 102
#define IDC_TAPSIGNAL 103
#define IDM_TRAY_ON 32765
#define IDM_TRAY_OFF 32766
#define IDM_TRAY_STOP 32767

#define IDC_RUN_AT_STARTUP 32501
#define IDC_BEEP_ON 32502
#define IDC_BEEP_FROM_SPEAKER 32503
#define IDC_BEEP_FROM_BUZZER 32504
#define IDC_FREQUENCY_EDIT 32601
#define IDC_DURATION_EDIT 32602
#define IDC_FREQUENCY_LABEL 32603
#define IDC_DURATION_LABEL 32604

#define IDT_HOOK_WATCHDOG 1
