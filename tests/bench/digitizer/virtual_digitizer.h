// What the bench's virtual digitizer driver and the test kit both know. The
// driver serves three kinds of device, told apart by their hardware id; an
// input report starts with its report id, kind + 1, which also names the
// device a test hands it to.
#pragma once

// TouchDigitizer reports two fingers and a count (parallel, or hybrid when
// the count announces more than two)
enum DigitizerKind {
    TouchDigitizer,
    PenDigitizer,
    TiplessDigitizer,
    SerialTouchDigitizer,
    SingleTouchDigitizer,
    DigitizerKindCount
};

// in DigitizerKind order; each is also the root device's id (instance 0)
static const wchar_t *const DigitizerHardwareIds[DigitizerKindCount] = {
    L"root\\PkTouchScreen", L"root\\PkPen", L"root\\PkTipless", L"root\\PkSerialTouch", L"root\\PkSingleTouch"};

// full input report lengths, report id included, in DigitizerKind order
static const unsigned DigitizerReportLengths[DigitizerKindCount] = {14, 6, 6, 7, 6};

// on the HID device handle: one input report, which completes the class
// driver's pending read or waits in a short queue
#define IOCTL_PK_DIGITIZER_REPORT CTL_CODE(FILE_DEVICE_UNKNOWN, 0x8D0, METHOD_BUFFERED, FILE_WRITE_ACCESS)
