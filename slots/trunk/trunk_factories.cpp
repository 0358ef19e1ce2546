// The trunk factories exist from static initialisation on, so they are the last ones a
// create command asks. Nothing refers to them by name: this unit is linked as an object
// library so that the linker keeps it.
#include "slots/trunk/trunk_slot.h"

TrunkFactory trunk0(0, 0);
TrunkFactory trunk1(1, 32);
TrunkFactory trunk2(2, 64);
TrunkFactory trunk3(3, 96);
TrunkBRIFactory trunk_bri0(0, 0);
TrunkBRIFactory trunk_bri1(1, 4);
TrunkBRIFactory trunk_bri2(2, 8);
TrunkBRIFactory trunk_bri3(3, 12);
TrunkBRIFactory trunk_bri4(4, 16);
TrunkBRIFactory trunk_bri5(5, 20);
TrunkBRIFactory trunk_bri6(6, 24);
TrunkBRIFactory trunk_bri7(7, 28);
