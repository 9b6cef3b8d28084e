#include "touch_contacts.h"

#include "app_state.h"
#include "pitchkeeper_shared.h"
#include "tone_worker.h"

// A contact not listed for this long counts as lifted: some screens never
// send the lift. One that comes back with the same identifier is a finger
// held still on a screen that reports only changes, and its touch goes on.
const DWORD StaleContactMs = 1000;
// The system makes a tap's press when it handles the lift, so the press
// reaches this thread right behind the lift's report, or before it (hook
// calls overtake queued input). The window covers a main thread held up on
// a loaded machine; a press later than this is not that lift's.
const DWORD PressAfterLiftMs = 250;

static int IndexOf(const ContactSet &set, DWORD id)
{
    for (int index = 0; index < set.Count; ++index) {
        if (set.Ids[index] == id) {
            return index;
        }
    }
    return -1;
}

static void AddContact(ContactSet &set, DWORD id, DWORD now)
{
    int index = IndexOf(set, id);
    if (index < 0 && set.Count < MaxFrameContacts) {
        index = set.Count++;
        set.Ids[index] = id;
    }
    if (index >= 0) {
        set.SeenTicks[index] = now;
    }
}

// True when the contact was in the set.
static bool RemoveContact(ContactSet &set, DWORD id)
{
    int index = IndexOf(set, id);
    if (index < 0) {
        return false;
    }
    set.Count--;
    set.Ids[index] = set.Ids[set.Count];
    set.SeenTicks[index] = set.SeenTicks[set.Count];
    return true;
}

static bool HasFreshContact(const ContactSet &set, DWORD now)
{
    for (int index = 0; index < set.Count; ++index) {
        if (now - set.SeenTicks[index] <= StaleContactMs) {
            return true;
        }
    }
    return false;
}

static void StartTouch(DigitizerDevice &device, LONGLONG arrivalTicks)
{
    device.TouchSounded = StartToneWorker(ToneFromContact, arrivalTicks);
    if (device.TouchSounded) {
        device.Counts.Touches++;
    }
}

// Serial and single-touch screens and pens: a report names some contacts
// and says nothing of the others, which lift by their own report or by
// going quiet.
static void ReadStandaloneContact(DigitizerDevice &device, const ContactReading &contact, DWORD now,
                                  LONGLONG arrivalTicks)
{
    device.InRange = contact.InRange || contact.Down;
    if (!contact.Down) {
        if (RemoveContact(device.Down, contact.Id) && device.Down.Count == 0) {
            device.LiftTick = now;
        }
        return;
    }
    if (IndexOf(device.Down, contact.Id) < 0 && !HasFreshContact(device.Down, now)) {
        device.Down.Count = 0;   // quiet ones lifted unseen
        StartTouch(device, arrivalTicks);
    }
    AddContact(device.Down, contact.Id, now);
}

static void BeginFrame(DigitizerDevice &device, ULONG announced)
{
    device.FrameAnnounced = announced;
    device.FrameContactsLeft = announced < (ULONG)MaxFrameContacts ? announced : MaxFrameContacts;
    device.FrameListed.Count = 0;
    device.FrameDown.Count = 0;
    device.FrameSounded = 0;
    device.FrameKeepsAContact = 0;
}

// A whole frame lists every contact that is down: one down before and not
// listed has lifted, and a frame that keeps none of them but has a contact
// down is a new touch.
static void EndFrame(DigitizerDevice &device, DWORD now, LONGLONG arrivalTicks)
{
    if (!device.FrameSounded && !device.FrameKeepsAContact && device.FrameDown.Count > 0) {
        StartTouch(device, arrivalTicks);
    }
    if (device.Down.Count > 0 && device.FrameDown.Count == 0) {
        device.LiftTick = now;
    }
    device.Down = device.FrameDown;
    device.FrameContactsLeft = 0;
}

// A count given again while a frame waits for its rest continues it, unless
// the report names a contact the frame has listed already.
static bool ContinuesFrame(const DigitizerDevice &device, const ContactReading *contacts, ULONG read,
                           ULONG announced)
{
    if (device.FrameContactsLeft == 0 || (announced != 0 && announced != device.FrameAnnounced)) {
        return false;
    }
    for (ULONG index = 0; index < read && index < device.FrameContactsLeft; ++index) {
        if (IndexOf(device.FrameListed, contacts[index].Id) >= 0) {
            return false;
        }
    }
    return true;
}

// True when the contact has landed in this frame.
static bool NoteFrameContact(DigitizerDevice &device, const ContactReading &contact, DWORD now)
{
    if (IndexOf(device.FrameListed, contact.Id) >= 0) {
        return false;   // a frame lists each contact once
    }
    AddContact(device.FrameListed, contact.Id, now);
    bool downBefore = IndexOf(device.Down, contact.Id) >= 0;
    device.FrameKeepsAContact |= downBefore;
    if (contact.Down) {
        AddContact(device.FrameDown, contact.Id, now);
    }
    return contact.Down && !downBefore;
}

// Parallel and hybrid screens: the contact count starts a frame.
static void ReadFrameReport(DigitizerDevice &device, const ContactReading *contacts, ULONG read,
                            ULONG announced, DWORD now, LONGLONG arrivalTicks)
{
    if (ContinuesFrame(device, contacts, read, announced)) {
        device.Style = StyleHybrid;
    } else {
        if (device.FrameContactsLeft > 0) {
            EndFrame(device, now, arrivalTicks);   // the rest of the frame before never came
        }
        // a count of 0 here starts no frame: the report carries no contact
        BeginFrame(device, announced);
    }
    // slots past the announced count carry nothing
    ULONG used = read < device.FrameContactsLeft ? read : device.FrameContactsLeft;
    device.FrameContactsLeft -= used;
    bool landed = false;
    for (ULONG index = 0; index < used; ++index) {
        landed |= NoteFrameContact(device, contacts[index], now);
    }
    // the first contact after none sounds at once; another finger does not
    if (landed && !device.FrameSounded && !device.FrameKeepsAContact && !HasFreshContact(device.Down, now)) {
        device.FrameSounded = 1;
        StartTouch(device, arrivalTicks);
    }
    if (device.FrameContactsLeft == 0) {
        EndFrame(device, now, arrivalTicks);
    }
}

void ReadContacts(DigitizerDevice &device, const ContactReading *contacts, ULONG read, ULONG announced,
                  LONGLONG arrivalTicks)
{
    DWORD now = GetTickCount();
    if (device.FrameContactsLeft > 0 && now - device.LastReportTick > StaleContactMs) {
        EndFrame(device, now, arrivalTicks);   // its rest never came
    }
    device.LastReportTick = now;
    if (device.HasContactCount) {
        ReadFrameReport(device, contacts, read, announced, now, arrivalTicks);
        return;
    }
    for (ULONG index = 0; index < read; ++index) {
        ReadStandaloneContact(device, contacts[index], now, arrivalTicks);
    }
}

static bool AccountsForPress(const DigitizerDevice &device, DWORD now)
{
    if (!device.TouchSounded) {
        return false;
    }
    bool reporting = now - device.LastReportTick <= StaleContactMs;
    if (HasFreshContact(device.Down, now) || (reporting && device.Type == DigitizerTypePen && device.InRange)) {
        return true;
    }
    return device.Down.Count == 0 && now - device.LiftTick <= PressAfterLiftMs;
}

bool IsPressOfASoundedContact(ULONG_PTR extraInfo)
{
    if ((extraInfo & PK_CONTACT_PRESS_MASK) != PK_CONTACT_PRESS_SIGNATURE) {
        return false;
    }
    BYTE type = (extraInfo & PK_CONTACT_PRESS_TOUCH_BIT) ? DigitizerTypeTouchScreen : DigitizerTypePen;
    DWORD now = GetTickCount();
    DigitizerDevice *latest = NULL;
    for (DigitizerDevice &device : AppState.Digitizers) {
        if (device.Handle == NULL || device.Type != type || device.Counts.Reports == 0) {
            continue;
        }
        if (AccountsForPress(device, now)) {
            device.Counts.PassedOver++;
            return true;
        }
        if (latest == NULL || now - device.LastReportTick < now - latest->LastReportTick) {
            latest = &device;
        }
    }
    // heard now, at the press, as it was not when the contact landed
    if (latest != NULL) {
        latest->Counts.SoundedAtLift++;
    }
    return false;
}
