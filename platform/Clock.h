#pragma once
// The clock of the remaining-time estimates: time as a fraction of a day. A monotonic clock is
// used, so a phase that crosses midnight still gives a sound estimate.

double TimeOfDay();
