// Per-user tone settings: placeholder until the profile walk is in; every
// setting reads as 0, so the tone uses its fallbacks.
#include "settings_lookup.h"

#include "paged.h"

TONE_PAGED ToneSettings ReadToneSettings()
{
    PAGED_CODE();
    return ToneSettings{0, 0};
}
