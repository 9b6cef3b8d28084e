// Definitions that the tray program, the driver, the clean-up tool and the
// tests all rely on. Plain macros and one record only, so that the header
// compiles in user mode (after windows.h), in kernel mode (after ntddk.h)
// and in the host build of the driver.
#pragma once

#define PK_WIDEN2(text) L##text
#define PK_WIDEN(text) PK_WIDEN2(text)

// --- settings key under HKEY_CURRENT_USER (all values REG_SZ decimal text) ---
#define PK_SETTINGS_KEY_PATH "Software\\VELMORA\\VELMORABeep"
#define PK_SETTINGS_ROOT_KEY "software"
#define PK_SETTINGS_VENDOR_KEY "VELMORA"
#define PK_SETTINGS_PRODUCT_KEY "VELMORABeep"
#define PK_VALUE_FREQUENCY "frequency"
#define PK_VALUE_DURATION "duration"
#define PK_VALUE_OUTPUT_DEVICE "OutputDevice"
#define PK_VALUE_SERVICE_STATUS "ServiceStatus"
#define PK_VALUE_RUN_AT_STARTUP "RunAtStartup"
// stored duration = milliseconds * this factor (the driver's count of delay writes)
#define PK_DURATION_STORE_FACTOR 500

// --- driver device and service ---
#define PK_DEVICE_NT_NAME_W L"\\Device\\VELMORABeep"
#define PK_DEVICE_DOS_NAME "VELMORABEEP"
#define PK_SERVICE_NAME "VELMORABEEP"
// device type FILE_DEVICE_BEEP, function 0, METHOD_BUFFERED, FILE_ANY_ACCESS
#define IOCTL_VELMORABEEP_BEEP 0x00010000u

// --- install folder and files ---
#define PK_VENDOR_DIR "C:\\DALQ"
#define PK_INSTALL_DIR PK_VENDOR_DIR "\\Pitchkeeper"
// Owner Administrators; a protected DACL that inherits nothing from the
// drive: SYSTEM and Administrators full control, Users read and execute,
// passed on to subfolders and files. The installer creates both folders
// with it, and the package's MsiLockPermissionsEx rows (build-msi) say it
// again for Windows Installer.
#define PK_INSTALL_DIR_SDDL "O:BAD:PAI(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;0x1200a9;;;BU)"
// start-up failures of the tray program, one line each
#define PK_ERROR_LOG_PATH PK_INSTALL_DIR "\\error.txt"
#define PK_INF_PATH PK_INSTALL_DIR "\\VELMORABEEP.inf"
#define PK_TRAY_EXE_PATH PK_INSTALL_DIR "\\Pitchkeeper_x64.exe"

// --- logon task, made and removed by the system's task tool (task_tool.h) ---
#define PK_TASK_NAME "DALQPitchkeeper"
#define PK_TASK_TOOL_FILE "schtasks.exe"
#define PK_TASK_CREATE_ARGUMENTS \
    "/Create /F /SC ONLOGON /TN \"" PK_TASK_NAME "\" /TR \"" PK_TRAY_EXE_PATH "\" /RL HIGHEST"
#define PK_TASK_DELETE_ARGUMENTS "/Delete /TN \"" PK_TASK_NAME "\" /f"

// --- the resident instance ---
#define PK_WINDOW_TITLE "Velmora Pitchkeeper"
#define PK_WINDOW_CLASS "win32app"
#define PK_INSTANCE_MUTEX "Tapsignal"
// Made by the installer in the install folder, where no standard user can
// create a file, to end the resident instance of every session; it goes
// when the installer closes it. Only SYSTEM and Administrators may open it.
#define PK_STOP_FILE_NAME "Pitchkeeper.stop"
#define PK_STOP_FILE_PATH PK_INSTALL_DIR "\\" PK_STOP_FILE_NAME
#define PK_STOP_FILE_SDDL "O:BAD:P(A;;FA;;;SY)(A;;FA;;;BA)"

// --- presses the system makes from a touch or pen contact ---
// the mouse event's extra information under this mask is the signature;
// the touch bit tells a finger from a pen
#define PK_CONTACT_PRESS_MASK 0xFFFFFF00u
#define PK_CONTACT_PRESS_SIGNATURE 0xFF515700u
#define PK_CONTACT_PRESS_TOUCH_BIT 0x80u

// --- WM_COMMAND ids understood by the resident window ---
#define CMD_RUN_AT_STARTUP_ON 32400
#define CMD_RUN_AT_STARTUP_OFF 32401
#define CMD_SET_FREQUENCY 32402
#define CMD_SET_DURATION 32403
// lParam: the asking process's window, which gets the answer as WM_COPYDATA
#define CMD_STATUS 32404
#define IDC_APPLY_SETTINGS 32500
#define IDC_STOP_SERVICE 32505
#define CMD_CONTROL_CENTER 32762
#define CMD_SWITCH_TO_BUZZER 32763
#define CMD_SWITCH_TO_SPEAKER 32764
#define CMD_BEEP_ON 32765
#define CMD_BEEP_OFF 32766
#define CMD_STOP 32767

// ranges the tray program accepts from its user
#define PK_FREQUENCY_MIN 1
#define PK_FREQUENCY_MAX 10000
#define PK_DURATION_MIN_MS 50
#define PK_DURATION_MAX_MS 1000
